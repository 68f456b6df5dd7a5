#pragma once
// A linked GLSL ES program with its uniform locations looked up once.
#include <memory>
#include <string>
#include <unordered_map>

#include "foundation/NSError.h"

// Compiles and links in the context current on the calling thread (any context, not only
// the GPU queue's): the program's name, or 0 with `failure` saying which step failed and
// the GL info log.
unsigned linkShaderProgram(const std::string& vertexSource, const std::string& fragmentSource,
                           std::string& failure);

class ShaderProgram {
  public:
    // Compiles and links on the GPU queue (hopping there when called elsewhere). On
    // failure returns null, writes the GL info log to standard error and puts it into
    // `error` (domain "ShaderProgram").
    static std::shared_ptr<ShaderProgram> compile(const std::string& vertexSource,
                                                  const std::string& fragmentSource, NSError* error);
    ~ShaderProgram();
    ShaderProgram(const ShaderProgram&) = delete;
    ShaderProgram& operator=(const ShaderProgram&) = delete;

    unsigned id() const { return program_; }
    // GPU queue only.
    void use() const;
    // GPU queue only: the location of a uniform, -1 when the shader has none by that name
    // (GL ignores writes to -1, so optional uniforms need no special case).
    int uniform(const std::string& name);
    int attribute(const std::string& name) const;

    // GPU queue only; the program must be in use.
    void setInt(const std::string& name, int value);
    void setFloat(const std::string& name, float value);
    void setVec2(const std::string& name, float x, float y);
    void setVec4(const std::string& name, float x, float y, float z, float w);
    void setFloatArray(const std::string& name, const float* values, int count);

  private:
    explicit ShaderProgram(unsigned program) : program_(program) {}
    unsigned program_;
    std::unordered_map<std::string, int> uniforms_;
};
