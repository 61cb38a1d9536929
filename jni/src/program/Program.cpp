#include "program/Program.h"

#include <map>
#include <vector>

#include "loader/Asset.h"
#include "progress/Progress.h"
#include "report/Errors.h"

namespace {

// Key: file name followed by every define, concatenated. Entries are never removed.
std::map<std::string, Program>& programCache() {
    static std::map<std::string, Program> cache;
    return cache;
}

std::string cacheKey(const std::string& name, const std::vector<std::string>& defines) {
    std::string key = name;
    for (const std::string& define : defines) {
        key += define;
    }
    return key;
}

// The driver's info log of a shader or a program, or `fallback` where the driver leaves it
// empty: the failure must still be seen.
template <typename GetParameter, typename GetLog>
std::string infoLog(GLuint object, GetParameter getParameter, GetLog getLog,
                    const std::string& fallback) {
    GLint logLength = 0;
    getParameter(object, GL_INFO_LOG_LENGTH, &logLength);
    std::vector<GLchar> log(static_cast<size_t>(logLength > 0 ? logLength : 0) + 1, '\0');
    GLsizei written = 0;
    getLog(object, static_cast<GLsizei>(log.size()), &written, log.data());
    const std::string message(log.data());
    return message.empty() ? fallback : message;
}

} // namespace

bool Program::Load(const std::string& name) {
    const std::string key = cacheKey(name, defines);
    const auto cached = programCache().find(key);
    if (cached != programCache().end()) {
        const Program& found = cached->second;
        program = found.program;
        vertexShader = found.vertexShader;
        fragmentShader = found.fragmentShader;
        defines = found.defines;
        vertexLines = found.vertexLines;
        fragmentLines = found.fragmentLines;
        return true;
    }

    progressStep();
    Asset asset;
    if (!asset.Load(name)) {
        return false;
    }

    progressStep();
    vertexShader = CompileShader(vertexLines, asset, GL_VERTEX_SHADER, defines);
    if (vertexShader == 0) {
        return false;
    }

    progressStep();
    fragmentShader = CompileShader(fragmentLines, asset, GL_FRAGMENT_SHADER, defines);
    if (fragmentShader == 0) {
        glDeleteShader(vertexShader);
        return false;
    }

    progressStep();
    program = Link(vertexShader, fragmentShader);
    if (program == 0) {
        return false; // Link has deleted both shaders
    }

    programCache().emplace(key, *this);
    return true;
}

std::string Program::StageText(const std::vector<std::string>& stageLines, const Asset& asset,
                               GLenum type, const std::vector<std::string>& defines) {
    std::string text = "// " + asset.name + "\n\n";
    text += type == GL_VERTEX_SHADER ? "#define VERTEX_SHADER\n\n" : "#define FRAGMENT_SHADER\n\n";
    for (const std::string& define : defines) {
        text += "#define " + define + "\n";
    }
    text += "\n";
    for (const std::string& line : stageLines) {
        text += line + "\n";
    }
    text += "\n";
    if (asset.data != nullptr) {
        text.append(reinterpret_cast<const char*>(asset.data), asset.size);
    }
    return text;
}

GLuint Program::CompileShader(const std::vector<std::string>& stageLines, const Asset& asset,
                              GLenum type, const std::vector<std::string>& defines) {
    progressStep();
    const std::string text = StageText(stageLines, asset, type, defines);

    progressStep();
    const GLuint shader = glCreateShader(type);
    if (shader == 0) {
        reportError("glCreateShader=0");
        return 0;
    }

    progressStep();
    const GLchar* source = text.c_str();
    glShaderSource(shader, 1, &source, nullptr);

    progressStep();
    glCompileShader(shader);

    progressStep();
    GLint status = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status != 0) {
        return shader;
    }

    reportError(
        infoLog(shader, glGetShaderiv, glGetShaderInfoLog, "Shader compile error : " + asset.name));
    glDeleteShader(shader);
    return 0;
}

GLuint Program::Link(GLuint vertex, GLuint fragment) {
    progressStep();
    const GLuint linked = glCreateProgram();
    if (linked == 0) {
        reportError("glCreateProgram=0");
        glDeleteShader(vertex);
        glDeleteShader(fragment);
        return 0;
    }

    progressStep();
    glAttachShader(linked, vertex);
    glAttachShader(linked, fragment);

    progressStep();
    glLinkProgram(linked);

    progressStep();
    GLint status = 0;
    glGetProgramiv(linked, GL_LINK_STATUS, &status);
    if (status != 0) {
        return linked;
    }

    reportError(infoLog(linked, glGetProgramiv, glGetProgramInfoLog, "Program link error"));
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    glDeleteProgram(linked);
    return 0;
}

void Program::ClearCache() {
    programCache().clear();
}

size_t Program::CacheSize() {
    return programCache().size();
}
