#include "render/shader_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "render/scene_programs.h"
#include "tests/gl/gl_test_context.h"

namespace {

GLint ShaderParameter(GLuint shader, GLenum name) {
  GLint value = -1;
  glGetShaderiv(shader, name, &value);
  return value;
}

GLint ProgramParameter(GLuint program, GLenum name) {
  GLint value = -1;
  glGetProgramiv(program, name, &value);
  return value;
}

// The driver's whole log of a shader or a program.
std::string Log(GLuint object, bool isProgram) {
  GLint length = 0;
  (isProgram ? glGetProgramiv : glGetShaderiv)(object, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<std::size_t>(length), '\0');
  (isProgram ? glGetProgramInfoLog : glGetShaderInfoLog)(object, length, nullptr, log.data());
  return log.c_str();
}

// A failed fragment compile is reported with its log, then the failed link with the program's
// log, each cut to 1023 characters; the program is kept and its shaders are left to it.
TEST(CreateProgram, ReportsAFailedCompileThenTheLinkWithLogsCutTo1023Characters) {
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
  for (const auto& [name, fragment, compiles, links, longLog] :
       {std::tuple{"fine", header + "void main() { FragColor = vec4(1.0); }\n", true, true, false},
        {"broken", header + "void main() { FragColor = vec4(1.0) }\n", false, false, false},
        {"long compile log", header + "void main() {\n" + undeclared + "}\n", false, false, true},
        {"long link log", header + unmatched + "void main() { FragColor = " + sum + "; }\n", true,
         false, true}}) {
    SCOPED_TRACE(name);
    GLuint program = 0, shaders[2] = {};
    ::testing::internal::CaptureStderr();
    CreateProgram(program, vertex, fragment.c_str());
    const std::string errors = ::testing::internal::GetCapturedStderr();
    ASSERT_NE(program, 0u);
    ASSERT_TRUE(glIsProgram(program));
    GLsizei count = 0;
    glGetAttachedShaders(program, 2, &count, shaders);
    ASSERT_EQ(count, 2);
    std::string compileLog;
    for (const GLuint shader : shaders) {
      EXPECT_EQ(ShaderParameter(shader, GL_DELETE_STATUS), GL_TRUE);
      const bool fragment = ShaderParameter(shader, GL_SHADER_TYPE) == GL_FRAGMENT_SHADER;
      EXPECT_EQ(ShaderParameter(shader, GL_COMPILE_STATUS), GLint{!fragment || compiles});
      if (fragment) compileLog = Log(shader, false);
    }
    const std::string linkLog = Log(program, true);
    EXPECT_EQ(ProgramParameter(program, GL_LINK_STATUS), GLint{links});
    // A long log must be long enough to be cut.
    ASSERT_GE((compiles ? linkLog : compileLog).size(), longLog ? 1025u : 0u);
    std::string expected;
    if (!compiles) expected += "Shader compilation failed:\n" + compileLog.substr(0, 1023) + "\n";
    if (!links) expected += "Shader linking failed:\n" + linkLog.substr(0, 1023) + "\n";
    EXPECT_EQ(errors, expected);
    glDeleteProgram(program);
  }
}

// Each UniformSet field holds the location of its name in its own program, and -1 for the
// names the program does not read: heightMapHeight is declared but read by neither tile
// program, so the linker drops it.
TEST(ScenePrograms, AllFourLinkSilentlyWithTheirUniformLocations) {
  ::testing::internal::CaptureStderr();
  BuildScenePrograms();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(std::set({tileProgram, backdropProgram, lightMaskProgram, lightShaftProgram}).size(),
            4u);

  const std::vector<std::string> camera{"model", "view", "projection"},
      tile{"model", "view", "projection", "tileMovementStrength", "cornerMovementStrength", "time"};
  const struct {
    GLuint program;
    const UniformSet& uniforms;
    std::vector<std::string> read;
  } programs[] = {{tileProgram, tileUniforms, tile},
                  {backdropProgram, backdropUniforms, camera},
                  {lightMaskProgram, lightMaskUniforms, tile},
                  {lightShaftProgram, lightShaftUniforms, {"lightPosition"}}};
  for (const auto& [program, u, read] : programs) {
    SCOPED_TRACE(::testing::Message() << "program " << program);
    EXPECT_EQ(ProgramParameter(program, GL_LINK_STATUS), GL_TRUE);
    const std::pair<const char*, GLint> fields[] = {
        {"model", u.model},
        {"view", u.view},
        {"projection", u.projection},
        {"tileMovementStrength", u.tileMovementStrength},
        {"cornerMovementStrength", u.cornerMovementStrength},
        {"heightMapHeight", u.heightMapHeight},
        {"time", u.time},
        {"lightPosition", u.lightPosition}};
    for (const auto& [name, location] : fields) {
      const bool isRead = std::find(read.begin(), read.end(), name) != read.end();
      EXPECT_EQ(location, glGetUniformLocation(program, name)) << name;
      EXPECT_EQ(location != -1, isRead) << name;
    }
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
