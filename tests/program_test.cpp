#include "program/Program.h"

#include <gtest/gtest.h>

#include "gpu_fixture.h"
#include "loader/Asset.h"

namespace {

const char* const kFlatShader = R"(#ifdef VERTEX_SHADER
attribute vec4 aPosition;
void main() {
    gl_Position = aPosition;
}
#endif
#ifdef FRAGMENT_SHADER
precision mediump float;
void main() {
#ifdef RED
    gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0);
#else
    gl_FragColor = vec4(1.0);
#endif
}
#endif
)";

const char* const kBrokenFragment = R"(#ifdef VERTEX_SHADER
attribute vec4 aPosition;
void main() {
    gl_Position = aPosition;
}
#endif
#ifdef FRAGMENT_SHADER
precision mediump float;
void main() {
    gl_FragColor = vec4(1.0) +;
}
#endif
)";

// Both stages compile; the fragment stage reads a varying the vertex stage never declares.
const char* const kUnlinkable = R"(#ifdef VERTEX_SHADER
attribute vec4 aPosition;
void main() {
    gl_Position = aPosition;
}
#endif
#ifdef FRAGMENT_SHADER
precision mediump float;
varying vec4 vMissing;
void main() {
    gl_FragColor = vMissing;
}
#endif
)";

class ProgramTest : public GpuTest {};

} // namespace

TEST_F(ProgramTest, StageTextOfIfeGlsl) {
    copyShader("ife.glsl");
    Asset asset;
    ASSERT_TRUE(asset.Load("ife.glsl"));
    const std::string file(reinterpret_cast<const char*>(asset.data), asset.size);
    EXPECT_EQ(Program::StageText({}, asset, GL_VERTEX_SHADER, {}),
              "// ife.glsl\n\n#define VERTEX_SHADER\n\n\n\n" + file);
    EXPECT_EQ(
        Program::StageText({"float a;", "float b;"}, asset, GL_FRAGMENT_SHADER, {"ONE 1", "TWO"}),
        "// ife.glsl\n\n#define FRAGMENT_SHADER\n\n#define ONE 1\n#define TWO\n\n"
        "float a;\nfloat b;\n\n" +
            file);
}

TEST_F(ProgramTest, SecondLoadTakesTheCachedProgramWithoutSteps) {
    writeAsset("flat.glsl", kFlatShader);
    Program first;
    ASSERT_TRUE(first.Load("flat.glsl"));
    EXPECT_EQ(steps(), 20);
    EXPECT_NE(first.program, 0u);
    EXPECT_TRUE(glIsShader(first.vertexShader));
    EXPECT_TRUE(glIsShader(first.fragmentShader));

    // The second load reads nothing: the file may be gone.
    removeAsset("flat.glsl");
    Program second;
    ASSERT_TRUE(second.Load("flat.glsl"));
    EXPECT_EQ(steps(), 20);
    EXPECT_EQ(second.program, first.program);
    EXPECT_EQ(second.vertexShader, first.vertexShader);
    EXPECT_EQ(second.fragmentShader, first.fragmentShader);
    EXPECT_TRUE(boxTexts().empty());
}

TEST_F(ProgramTest, DefinesAreCompiledSeparatelyAndKeyedByTheirConcatenation) {
    writeAsset("flat.glsl", kFlatShader);
    Program plain;
    Program red;
    red.defines = {"RED"};
    ASSERT_TRUE(plain.Load("flat.glsl"));
    ASSERT_TRUE(red.Load("flat.glsl"));
    EXPECT_NE(plain.program, red.program);
    EXPECT_EQ(Program::CacheSize(), 2u);
    EXPECT_EQ(steps(), 40);

    Program split;
    split.defines = {"RED", "X"};
    Program joined;
    joined.defines = {"REDX"};
    ASSERT_TRUE(split.Load("flat.glsl"));
    ASSERT_TRUE(joined.Load("flat.glsl"));
    EXPECT_EQ(joined.program, split.program);
    EXPECT_EQ(joined.defines, split.defines);
    EXPECT_EQ(Program::CacheSize(), 3u);
    EXPECT_EQ(steps(), 60);
}

TEST_F(ProgramTest, FragmentSyntaxErrorReportsOnceAndCachesNothing) {
    writeAsset("broken.glsl", kBrokenFragment);
    Program program;
    EXPECT_FALSE(program.Load("broken.glsl"));
    ASSERT_EQ(boxTexts().size(), 1u);
    EXPECT_FALSE(boxTexts()[0].empty());
    EXPECT_EQ(boxes_.boxes()[0].caption, "ERROR");
    EXPECT_EQ(errorList().size(), 1u);
    ASSERT_NE(program.vertexShader, 0u);
    EXPECT_FALSE(glIsShader(program.vertexShader));
    EXPECT_EQ(Program::CacheSize(), 0u);
    // Every step up to the failed fragment status was taken: 1 + 2 + 1 + 5 + 1 + 5.
    EXPECT_EQ(steps(), 15);

    // Nothing was cached, so a repaired file is compiled on the next load.
    writeAsset("broken.glsl", kFlatShader);
    Program repaired;
    EXPECT_TRUE(repaired.Load("broken.glsl"));
    EXPECT_EQ(Program::CacheSize(), 1u);
}

TEST_F(ProgramTest, LinkFailureDeletesBothShaders) {
    writeAsset("unlinkable.glsl", kUnlinkable);
    Program program;
    EXPECT_FALSE(program.Load("unlinkable.glsl"));
    EXPECT_EQ(boxTexts().size(), 1u);
    EXPECT_EQ(program.program, 0u);
    EXPECT_FALSE(glIsShader(program.vertexShader));
    EXPECT_FALSE(glIsShader(program.fragmentShader));
    EXPECT_EQ(Program::CacheSize(), 0u);
    EXPECT_EQ(steps(), 20);
}

TEST_F(ProgramTest, MissingOrEmptyAssetFailsThroughTheLoader) {
    Program missing;
    EXPECT_FALSE(missing.Load("absent.glsl"));
    EXPECT_EQ(steps(), 3);
    ASSERT_FALSE(errorList().empty());
    EXPECT_EQ(errorList().back(), "Load error : absent.glsl");

    writeAsset("empty.glsl", "");
    Program empty;
    EXPECT_FALSE(empty.Load("empty.glsl"));
    EXPECT_EQ(errorList().back(), "Load error : empty.glsl");
    EXPECT_EQ(Program::CacheSize(), 0u);
}

TEST_F(ProgramTest, ShippedProgramsBuild) {
    for (const char* name : {"ife.glsl", "progressBar.glsl"}) {
        SCOPED_TRACE(name);
        copyShader(name);
        Program program;
        EXPECT_TRUE(program.Load(name));
    }
    EXPECT_TRUE(boxTexts().empty());
    // The loading bar feeds its one attribute through generic attribute 0.
    Program bar;
    ASSERT_TRUE(bar.Load("progressBar.glsl"));
    EXPECT_EQ(glGetAttribLocation(bar.program, "position"), 0);
}
