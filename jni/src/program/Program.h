#pragma once
// Builds one linked GL program from a single-file ".glsl" asset compiled twice (VERTEX_SHADER,
// FRAGMENT_SHADER). Programs live in a process-wide cache keyed by name + defines; the GL
// objects it creates are never deleted while the process runs. No code outside this unit
// calls glCreateShader or glCreateProgram.

#include <string>
#include <vector>

#include "platform/gl.h"

class Asset;

class Program {
public:
    Program() = default;
    virtual ~Program() = default;

    bool Load(const std::string& name);

    // The text of one stage exactly as it goes to the compiler (without the NUL).
    static std::string StageText(const std::vector<std::string>& stageLines, const Asset& asset,
                                 GLenum type, const std::vector<std::string>& defines);
    static GLuint CompileShader(const std::vector<std::string>& stageLines, const Asset& asset,
                                GLenum type, const std::vector<std::string>& defines);
    static GLuint Link(GLuint vertex, GLuint fragment);

    // Tests only: forget every cached program (the GL objects belong to the test's context).
    static void ClearCache();
    static size_t CacheSize();

    GLuint program = 0;
    GLuint vertexShader = 0;
    GLuint fragmentShader = 0;
    std::vector<std::string> defines;
    std::vector<std::string> vertexLines;
    std::vector<std::string> fragmentLines;
};
