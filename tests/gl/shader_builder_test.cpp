#include "render/shader_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "tests/gl/gl_test_context.h"

namespace {

// The driver's whole log of a shader or a program.
std::string Log(GLuint object) {
  std::string log(1 << 16, '\0');
  (glIsProgram(object) ? glGetProgramInfoLog : glGetShaderInfoLog)(object, 1 << 16, nullptr,
                                                                   log.data());
  return log.c_str();
}

// A failed compile is reported with the driver's log, then the failed link with the linker's,
// each cut to the 1023 characters that a 1024-byte buffer holds. The program and its shaders
// are kept, so start-up and the passes go on with it.
TEST(CreateProgram, ReportsFailedCompilesAndLinksWithTheDriversLogCutTo1023Characters) {
  const char* vertex = "#version 460 core\nvoid main() { gl_Position = vec4(0.0); }\n";
  // 40 undeclared variables give 40 compile errors; 40 inputs without outputs, 40 link errors.
  std::string undeclared, unmatched, sum = "vec4(0.0)";
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(i);
    undeclared += "  FragColor.r += undeclaredVariableNumber" + n + ";\n";
    unmatched += "in vec4 unmatchedVaryingNumber" + n + ";\n";
    sum += " + unmatchedVaryingNumber" + n;
  }
  const std::string header = "#version 460 core\nout vec4 FragColor;\n";
  for (const auto& [fragment, compiles, links, longLog] :
       {std::tuple{header + "void main() { FragColor = vec4(1.0); }\n", true, true, false},
        {header + "void main() { FragColor = vec4(1.0) }\n", false, false, false},
        {header + "void main() {\n" + undeclared + "}\n", false, false, true},
        {header + unmatched + "void main() { FragColor = " + sum + "; }\n", true, false, true}}) {
    GLuint program = 0, shaders[2] = {};
    ::testing::internal::CaptureStderr();
    CreateProgram(program, vertex, fragment.c_str());
    const std::string errors = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(glIsProgram(program));
    glGetAttachedShaders(program, 2, nullptr, shaders);
    GLint type = 0;
    glGetShaderiv(shaders[0], GL_SHADER_TYPE, &type);
    const std::string compileLog = Log(shaders[type == GL_FRAGMENT_SHADER ? 0 : 1]);
    const std::string linkLog = Log(program);
    ASSERT_GE((compiles ? linkLog : compileLog).size(), longLog ? 1025u : 0u) << "too short to cut";
    std::string expected;
    if (!compiles) expected += "Shader compilation failed:\n" + compileLog.substr(0, 1023) + "\n";
    if (!links) expected += "Shader linking failed:\n" + linkLog.substr(0, 1023) + "\n";
    EXPECT_EQ(errors, expected) << fragment;
    glDeleteProgram(program);
  }
}

}  // namespace
