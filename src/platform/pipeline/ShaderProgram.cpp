#include "pipeline/ShaderProgram.h"

#include <GLES3/gl3.h>

#include "foundation/Print.h"
#include "pipeline/GPUContext.h"

namespace {
std::string infoLog(GLuint object, bool isProgram) {
    GLint length = 0;
    if (isProgram)
        glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    std::string log(size_t(length > 0 ? length : 0), '\0');
    if (length > 0) {
        if (isProgram)
            glGetProgramInfoLog(object, length, nullptr, log.data());
        else
            glGetShaderInfoLog(object, length, nullptr, log.data());
    }
    while (!log.empty() && (log.back() == '\0' || log.back() == '\n'))
        log.pop_back();
    return log.empty() ? "(no info log)" : log;
}

// Returns the shader, or 0 with `failure` set.
GLuint compileShader(GLenum type, const std::string& source, std::string& failure) {
    GLuint shader = glCreateShader(type);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled)
        return shader;
    failure = std::string(type == GL_VERTEX_SHADER ? "vertex" : "fragment") +
              " shader failed to compile: " + infoLog(shader, false);
    glDeleteShader(shader);
    return 0;
}
} // namespace

unsigned linkShaderProgram(const std::string& vertexSource, const std::string& fragmentSource,
                           std::string& failure) {
    GLuint vertex = compileShader(GL_VERTEX_SHADER, vertexSource, failure);
    if (!vertex)
        return 0;
    GLuint fragment = compileShader(GL_FRAGMENT_SHADER, fragmentSource, failure);
    if (!fragment) {
        glDeleteShader(vertex);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    // The program keeps what it needs; the shaders go once it is linked.
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked)
        return program;
    failure = "program failed to link: " + infoLog(program, true);
    glDeleteProgram(program);
    return 0;
}

std::shared_ptr<ShaderProgram> ShaderProgram::compile(const std::string& vertexSource,
                                                      const std::string& fragmentSource, NSError* error) {
    GLuint program = 0;
    std::string failure;
    GPUContext::shared().runSync([&] { program = linkShaderProgram(vertexSource, fragmentSource, failure); });
    if (!program) {
        foundation::logError("gpu: " + failure);
        if (error)
            *error = NSError("ShaderProgram", 1, failure);
        return nullptr;
    }
    return std::shared_ptr<ShaderProgram>(new ShaderProgram(program));
}

ShaderProgram::~ShaderProgram() {
    GLuint program = program_;
    GPUContext& context = GPUContext::shared();
    if (context.isCurrentQueue())
        glDeleteProgram(program);
    else
        context.runAsync([program] { glDeleteProgram(program); });
}

void ShaderProgram::use() const {
    glUseProgram(program_);
}

int ShaderProgram::uniform(const std::string& name) {
    auto found = uniforms_.find(name);
    if (found != uniforms_.end())
        return found->second;
    int location = glGetUniformLocation(program_, name.c_str());
    uniforms_.emplace(name, location);
    return location;
}

int ShaderProgram::attribute(const std::string& name) const {
    return glGetAttribLocation(program_, name.c_str());
}

void ShaderProgram::setInt(const std::string& name, int value) {
    glUniform1i(uniform(name), value);
}
void ShaderProgram::setFloat(const std::string& name, float value) {
    glUniform1f(uniform(name), value);
}
void ShaderProgram::setVec2(const std::string& name, float x, float y) {
    glUniform2f(uniform(name), x, y);
}
void ShaderProgram::setVec4(const std::string& name, float x, float y, float z, float w) {
    glUniform4f(uniform(name), x, y, z, w);
}
void ShaderProgram::setFloatArray(const std::string& name, const float* values, int count) {
    glUniform1fv(uniform(name), count, values);
}
