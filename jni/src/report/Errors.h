#pragma once
// The process-wide error list. Every failure is appended where it happens and shown at
// once in a box captioned "ERROR"; the entry point shows the whole list on a start-up failure.

#include <string>
#include <vector>

void reportError(const std::string& message);
std::string errorListText();
const std::vector<std::string>& errorList();
int showFatal(const std::string& text);  // box captioned "Error"; returns 1

// Tests start each case from an empty list.
void clearErrorList();
