// F1 with the real help viewer. Wine's viewer names the file it was asked for when it cannot
// find it, which shows that the updater asks for the ".HLP" file named after itself.
#include "updater_session.hpp"

using testing::HasSubstr;

namespace {

// Answers the viewer's "file not found" box with No, after checking which file it names.
void ExpectViewerAskedFor(const std::wstring& helpFile) {
  HWND viewerBox = probe::WaitForDialog(L"错误", kWindowMs);
  ASSERT_NE(viewerBox, nullptr) << "the help viewer did not start";
  EXPECT_THAT(probe::BoxText(viewerBox), HasSubstr(L"“" + helpFile + L"”"));
  probe::Click(viewerBox, IDNO);
  EXPECT_TRUE(probe::WaitUntilGone(viewerBox, kWindowMs));
}

TEST_F(FullDisk, F1InEitherWindowAsksTheHelpViewerForTheHlpFileBesideTheUpdater) {
  DismissErrorBox();
  probe::PressKey(progress_, VK_F1);
  ExpectViewerAskedFor(install_.Path(L"Merovast.HLP"));
  EXPECT_TRUE(probe::StaysAbsent(kTitle, kQuietMs)) << "a started viewer is no failure";

  probe::PostSysCommand(progress_, 0x0010);
  HWND about = probe::WaitForDialog(kAboutCaption, kWindowMs);
  ASSERT_NE(about, nullptr);
  probe::PressKey(about, VK_F1);
  ExpectViewerAskedFor(install_.Path(L"Merovast.HLP"));
  EXPECT_TRUE(IsWindow(about));
}

}  // namespace
