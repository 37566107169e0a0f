#include "render/shader_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/scene_programs.h"
#include "tests/gl/gl_test_context.h"

namespace {

constexpr const char* vertexSource =
    "#version 460 core\n"
    "layout(location = 0) in vec3 aPosition;\n"
    "void main() { gl_Position = vec4(aPosition, 1.0); }\n";

constexpr const char* fragmentSource =
    "#version 460 core\n"
    "out vec4 FragColor;\n"
    "void main() { FragColor = vec4(1.0); }\n";

constexpr const char* brokenFragmentSource =
    "#version 460 core\n"
    "out vec4 FragColor;\n"
    "void main() { FragColor = vec4(1.0) }\n";

// The driver's own log of a shader or a program, whole.
std::string ShaderLog(GLuint shader) {
  GLint length = 0;
  glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<std::size_t>(length), '\0');
  glGetShaderInfoLog(shader, length, nullptr, log.data());
  return log.c_str();
}

std::string ProgramLog(GLuint program) {
  GLint length = 0;
  glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<std::size_t>(length), '\0');
  glGetProgramInfoLog(program, length, nullptr, log.data());
  return log.c_str();
}

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

// The program's shaders, vertex stage first.
std::vector<GLuint> AttachedShaders(GLuint program) {
  GLuint shaders[4] = {};
  GLsizei count = 0;
  glGetAttachedShaders(program, 4, &count, shaders);
  std::vector<GLuint> result(shaders, shaders + count);
  if (result.size() == 2 && ShaderParameter(result[0], GL_SHADER_TYPE) != GL_VERTEX_SHADER) {
    std::swap(result[0], result[1]);
  }
  return result;
}

struct Build {
  GLuint program = 0;
  std::string errors;
};

Build BuildProgram(const char* vertex, const char* fragment) {
  Build build;
  ::testing::internal::CaptureStderr();
  CreateProgram(build.program, vertex, fragment);
  build.errors = ::testing::internal::GetCapturedStderr();
  return build;
}

TEST(CompileShader, ReturnsTheShaderOfTheTypeAndReportsOnlyAFailedCompile) {
  ::testing::internal::CaptureStderr();
  const GLuint vertex = CompileShader(GL_VERTEX_SHADER, vertexSource);
  const GLuint fragment = CompileShader(GL_FRAGMENT_SHADER, fragmentSource);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  ASSERT_TRUE(glIsShader(vertex));
  ASSERT_TRUE(glIsShader(fragment));
  EXPECT_EQ(ShaderParameter(vertex, GL_SHADER_TYPE), GL_VERTEX_SHADER);
  EXPECT_EQ(ShaderParameter(fragment, GL_SHADER_TYPE), GL_FRAGMENT_SHADER);
  EXPECT_EQ(ShaderParameter(vertex, GL_COMPILE_STATUS), GL_TRUE);
  EXPECT_EQ(ShaderParameter(fragment, GL_COMPILE_STATUS), GL_TRUE);

  ::testing::internal::CaptureStderr();
  const GLuint broken = CompileShader(GL_FRAGMENT_SHADER, brokenFragmentSource);
  const std::string errors = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(glIsShader(broken));
  EXPECT_EQ(ShaderParameter(broken, GL_COMPILE_STATUS), GL_FALSE);
  const std::string log = ShaderLog(broken);
  EXPECT_FALSE(log.empty());
  EXPECT_EQ(errors, "Shader compilation failed:\n" + log + "\n");

  for (GLuint shader : {vertex, fragment, broken}) glDeleteShader(shader);
}

TEST(CompileShader, CutsALongLogTo1023Characters) {
  // Every statement names an undeclared variable: one error line each, well over 1024 characters.
  std::string source = "#version 460 core\nout vec4 FragColor;\nvoid main() {\n";
  for (int i = 0; i < 60; ++i) {
    source += "  FragColor.r += undeclaredVariableNumber" + std::to_string(i) + ";\n";
  }
  source += "}\n";

  ::testing::internal::CaptureStderr();
  const GLuint shader = CompileShader(GL_FRAGMENT_SHADER, source.c_str());
  const std::string errors = ::testing::internal::GetCapturedStderr();
  const std::string log = ShaderLog(shader);
  ASSERT_GT(log.size(), 1024u) << "the driver's log is too short to be cut";
  EXPECT_EQ(errors, "Shader compilation failed:\n" + log.substr(0, 1023) + "\n");
  glDeleteShader(shader);
}

TEST(CreateProgram, LinksAndReportsNothingThenLeavesTheShadersToTheProgram) {
  const Build build = BuildProgram(vertexSource, fragmentSource);
  EXPECT_EQ(build.errors, "");
  ASSERT_TRUE(glIsProgram(build.program));
  EXPECT_EQ(ProgramParameter(build.program, GL_LINK_STATUS), GL_TRUE);

  const std::vector<GLuint> shaders = AttachedShaders(build.program);
  ASSERT_EQ(shaders.size(), 2u);
  EXPECT_EQ(ShaderParameter(shaders[0], GL_SHADER_TYPE), GL_VERTEX_SHADER);
  EXPECT_EQ(ShaderParameter(shaders[1], GL_SHADER_TYPE), GL_FRAGMENT_SHADER);
  for (GLuint shader : shaders) EXPECT_EQ(ShaderParameter(shader, GL_DELETE_STATUS), GL_TRUE);

  // Flagged for deletion, they go with the program.
  glDeleteProgram(build.program);
  for (GLuint shader : shaders) EXPECT_FALSE(glIsShader(shader));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(CreateProgram, ReportsEachFailedStageInOrderThenTheLinkAndKeepsTheProgram) {
  const char* brokenVertexSource =
      "#version 460 core\n"
      "void main() { gl_Position = undeclaredPosition; }\n";
  struct Case {
    const char* name;
    const char* vertex;
    const char* fragment;
  };
  for (const Case& c : {Case{"fragment", vertexSource, brokenFragmentSource},
                        Case{"both", brokenVertexSource, brokenFragmentSource}}) {
    SCOPED_TRACE(c.name);
    const Build build = BuildProgram(c.vertex, c.fragment);
    ASSERT_NE(build.program, 0u);
    ASSERT_TRUE(glIsProgram(build.program));
    EXPECT_EQ(ProgramParameter(build.program, GL_LINK_STATUS), GL_FALSE);

    const std::vector<GLuint> shaders = AttachedShaders(build.program);
    ASSERT_EQ(shaders.size(), 2u);
    std::string expected;
    for (GLuint shader : shaders) {
      EXPECT_EQ(ShaderParameter(shader, GL_DELETE_STATUS), GL_TRUE);
      if (ShaderParameter(shader, GL_COMPILE_STATUS) == GL_FALSE) {
        expected += "Shader compilation failed:\n" + ShaderLog(shader) + "\n";
      }
    }
    const std::string linkLog = ProgramLog(build.program);
    EXPECT_FALSE(linkLog.empty());
    expected += "Shader linking failed:\n" + linkLog + "\n";
    EXPECT_EQ(build.errors, expected);
    glDeleteProgram(build.program);
  }
}

TEST(CreateProgram, CutsALongLinkLogTo1023Characters) {
  // Each fragment input lacks a vertex output: one linker error per input.
  std::string fragment = "#version 460 core\nout vec4 FragColor;\n";
  std::string sum = "vec4(0.0)";
  for (int i = 0; i < 40; ++i) {
    const std::string name = "unmatchedVaryingNumber" + std::to_string(i);
    fragment += "in vec4 " + name + ";\n";
    sum += " + " + name;
  }
  fragment += "void main() { FragColor = " + sum + "; }\n";

  const Build build = BuildProgram(vertexSource, fragment.c_str());
  const std::string log = ProgramLog(build.program);
  ASSERT_GT(log.size(), 1024u) << "the driver's link log is too short to be cut";
  EXPECT_EQ(build.errors, "Shader linking failed:\n" + log.substr(0, 1023) + "\n");
  glDeleteProgram(build.program);
}

// Each UniformSet field holds the location of its own name in its program, -1 where the linked
// program lacks that name.
void ExpectUniforms(GLuint program, const UniformSet& set, const char* const (&active)[8]) {
  const struct {
    const char* name;
    GLint location;
  } fields[] = {{"model", set.model},
                {"view", set.view},
                {"projection", set.projection},
                {"tileMovementStrength", set.tileMovementStrength},
                {"cornerMovementStrength", set.cornerMovementStrength},
                {"heightMapHeight", set.heightMapHeight},
                {"time", set.time},
                {"lightPosition", set.lightPosition}};
  for (const auto& field : fields) {
    bool shouldBeActive = false;
    for (const char* name : active) {
      if (name && std::string(name) == field.name) shouldBeActive = true;
    }
    if (shouldBeActive) {
      EXPECT_NE(field.location, -1) << field.name;
      EXPECT_EQ(field.location, glGetUniformLocation(program, field.name)) << field.name;
    } else {
      EXPECT_EQ(field.location, -1) << field.name;
    }
  }
}

TEST(ScenePrograms, AllFourLinkSilentlyWithTheirUniformLocations) {
  ::testing::internal::CaptureStderr();
  BuildScenePrograms();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  const GLuint programs[] = {tileProgram, backdropProgram, lightMaskProgram, lightShaftProgram};
  for (GLuint program : programs) {
    ASSERT_TRUE(glIsProgram(program));
    EXPECT_EQ(ProgramParameter(program, GL_LINK_STATUS), GL_TRUE) << ProgramLog(program);
    EXPECT_EQ(AttachedShaders(program).size(), 2u);
  }
  EXPECT_NE(tileProgram, backdropProgram);
  EXPECT_NE(tileProgram, lightMaskProgram);
  EXPECT_NE(lightMaskProgram, lightShaftProgram);

  // heightMapHeight is declared but read by neither tile program, so the linker drops it.
  const char* const tileNames[8] = {
      "model", "view", "projection", "tileMovementStrength", "cornerMovementStrength", "time"};
  ExpectUniforms(tileProgram, tileUniforms, tileNames);
  ExpectUniforms(lightMaskProgram, lightMaskUniforms, tileNames);
  const char* const cameraNames[8] = {"model", "view", "projection"};
  ExpectUniforms(backdropProgram, backdropUniforms, cameraNames);
  const char* const shaftNames[8] = {"lightPosition"};
  ExpectUniforms(lightShaftProgram, lightShaftUniforms, shaftNames);

  // The samplers are looked up each frame; they must be active to be set.
  EXPECT_NE(glGetUniformLocation(tileProgram, "heightMap"), -1);
  EXPECT_NE(glGetUniformLocation(lightMaskProgram, "heightMap"), -1);
  EXPECT_NE(glGetUniformLocation(lightShaftProgram, "lightMask"), -1);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
