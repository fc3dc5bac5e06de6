#include "settings/settings.h"
#include "render/commands.h"
#include "render/image_library.h"
#include "render/resolution.h"

#include <Magick++.h>
#include <gtest/gtest.h>

using MagickCore::Quantum;

namespace {
class Commands : public ::testing::Test {
protected:
  void SetUp() override { settings() = Settings{}; }
  void TearDown() override { settings() = Settings{}; }
};
} // namespace

TEST_F(Commands, FactorCommandRendersWithTheNewFactorBeforeStoringIt) {
  RegSetInt("KodAntialias", 3);
  int seenInMemory = -1, seenStored = -1, calls = 0;
  EXPECT_TRUE(render::CommandAntialias(10, [&] {
    ++calls;
    seenInMemory = settings().KodAntialias;
    seenStored = RegGetInt("KodAntialias");
  }));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seenInMemory, 10);
  EXPECT_EQ(seenStored, 3);
  EXPECT_EQ(RegGetInt("KodAntialias"), 10);
  // Without a page there is nothing to render; the factor is still set and stored.
  EXPECT_TRUE(render::CommandAntialias(0, {}));
  EXPECT_EQ(settings().KodAntialias, 0);
  EXPECT_EQ(RegGetInt("KodAntialias"), 0);
}

TEST_F(Commands, TogglesStoreBeforeRendering) {
  int stored = -1;
  EXPECT_TRUE(render::CommandToggleSharpen([&] { stored = RegGetInt("lvSharpen"); }));
  EXPECT_EQ(stored, 1);
  EXPECT_TRUE(settings().lvSharpen);
  EXPECT_FALSE(render::CommandToggleSharpen([&] { stored = RegGetInt("lvSharpen"); }));
  EXPECT_EQ(stored, 0);

  EXPECT_TRUE(render::CommandToggleDateTimeStamp([&] { stored = RegGetInt("lvIncludeDateTime"); }));
  EXPECT_EQ(stored, 1);
  EXPECT_TRUE(settings().lvIncludeDateTime);
  EXPECT_FALSE(render::CommandToggleDateTimeStamp({}));
  EXPECT_EQ(RegGetInt("lvIncludeDateTime"), 0);
}

TEST_F(Commands, MenuIdsAndCheckMarks) {
  EXPECT_EQ(render::AntialiasFactorForCommand(32801), 0);
  EXPECT_EQ(render::AntialiasFactorForCommand(32823), 2);
  EXPECT_EQ(render::AntialiasFactorForCommand(32824), 3);
  EXPECT_EQ(render::AntialiasFactorForCommand(32813), 5);
  EXPECT_EQ(render::AntialiasFactorForCommand(32815), 7);
  EXPECT_EQ(render::AntialiasFactorForCommand(32818), 10);
  EXPECT_EQ(render::AntialiasFactorForCommand(32825), 15);
  EXPECT_EQ(render::AntialiasFactorForCommand(32819), 20);
  EXPECT_EQ(render::AntialiasFactorForCommand(32863), -1);
  EXPECT_TRUE(render::AntialiasCommandChecked(0, -4));
  EXPECT_TRUE(render::AntialiasCommandChecked(0, 0));
  EXPECT_FALSE(render::AntialiasCommandChecked(0, 1));
  EXPECT_TRUE(render::AntialiasCommandChecked(20, 25));
  EXPECT_FALSE(render::AntialiasCommandChecked(15, 16));
  EXPECT_TRUE(render::AntialiasCommandChecked(7, 7));
}

TEST_F(Commands, CurrentResolutionFollowsTheCommittedChoice) {
  render::setDisplayResolution(120);
  settings().ResCur = 150.5;
  settings().CheckN = 0;
  EXPECT_DOUBLE_EQ(render::CurrentResolution(), 120);
  settings().CheckN = 1;
  EXPECT_DOUBLE_EQ(render::CurrentResolution(), 300);
  settings().CheckN = 2;
  EXPECT_DOUBLE_EQ(render::CurrentResolution(), 150.5);
  settings().CheckN = 7;
  EXPECT_DOUBLE_EQ(render::CurrentResolution(), 100);
  render::setDisplayResolution(0);
  settings().CheckN = 0;
  EXPECT_DOUBLE_EQ(render::CurrentResolution(), 96);
}

TEST(ImageLibrary, PagesWiderThanTheDistributionCapCanBeMade) {
  render::InitializeImageLibrary(); // a second call changes nothing
  Magick::Image wide;
  wide.size(Magick::Geometry(20000, 4));
  Magick::PixelPacket *p = nullptr;
  EXPECT_NO_THROW(p = wide.setPixels(0, 0, 20000, 4));
  ASSERT_NE(p, nullptr);
  p[19999 * 1].red = 0;
  EXPECT_NO_THROW(wide.syncPixels());
  EXPECT_EQ(wide.columns(), 20000u);
}
