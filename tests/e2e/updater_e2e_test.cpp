// The updater as a person meets it: its windows, its boxes, the files it leaves and whether
// the target starts, against nginx on 127.0.0.1:8081.
#include "updater_session.hpp"

using testing::AllOf;
using testing::ElementsAre;
using testing::Field;
using testing::IsEmpty;
using testing::SizeIs;

namespace {

const std::wstring kFailureText = L"服务器连接失败，请检查网络，稍侯再试33，谢谢!";
const char kManifestRequest[] = "GET /update_go/update.htm HTTP/1.1";

TEST(UpdaterRun, UpToDateTargetStartsWithoutAnyBox) {
  Installation install;
  install.PublishManifest(install.CurrentManifest());
  install.ServeWithNginx();
  const std::string before = install.TargetBytes();

  harness::Process updater = install.StartUpdater();

  EXPECT_TRUE(install.TargetStarted(kWindowMs));
  EXPECT_TRUE(Exited(updater));
  EXPECT_EQ(probe::FindDialog(kTitle), nullptr);
  EXPECT_EQ(probe::FindDialog(L"failed"), nullptr);
  EXPECT_THAT(harness::Requests(), ElementsAre(Field(&harness::Request::line, kManifestRequest)));
  EXPECT_EQ(install.TargetBytes(), before);
}

TEST(UpdaterRun, OutOfDateTargetIsReplacedFilesDownloadedThenStarted) {
  Installation install;
  const std::string newTarget = harness::ReadBytes(harness::StandinExe(L"standin-bare"));
  const std::string data = harness::PatternBytes(70000);
  install.Publish(L"release\\bin\\Ostravine.exe", newTarget);
  install.Publish(L"release\\data\\data.pak", data);
  install.PublishManifest(Manifest("1,0,0,4", static_cast<long long>(newTarget.size()),
                                   {{"Ostravine.exe", "/bin", ""}, {"data.pak", "/data", "\\to"}}));
  install.ServeWithNginx();

  harness::Process updater = install.StartUpdater();

  EXPECT_TRUE(install.TargetStarted(kWindowMs));
  EXPECT_TRUE(Exited(updater));
  EXPECT_EQ(install.TargetBytes(), newTarget);
  EXPECT_EQ(harness::ReadBytes(install.Path(L"to\\data.pak")), data);
  EXPECT_THAT(harness::Requests(),
              ElementsAre(Field(&harness::Request::line, kManifestRequest),
                          Field(&harness::Request::line, "GET /release/bin/Ostravine.exe HTTP/1.1"),
                          Field(&harness::Request::line, "GET /release/data/data.pak HTTP/1.1")));
}

TEST(UpdaterRun, ServerDownShowsTheEmptyBoxThenTheFailureAndStartsNothing) {
  Installation install;
  harness::ServeNothing();

  harness::Process updater = install.StartUpdater();

  HWND fetchBox = probe::WaitForDialog(kTitle, kWindowMs);
  ASSERT_NE(fetchBox, nullptr);
  EXPECT_EQ(probe::BoxText(fetchBox), L"");
  EXPECT_TRUE(probe::StaysAbsent(L"failed", kQuietMs)) << "the failure box came before the first was answered";
  probe::Click(fetchBox, IDOK);

  HWND failureBox = probe::WaitForDialog(L"failed", kWindowMs);
  ASSERT_NE(failureBox, nullptr);
  EXPECT_EQ(probe::BoxText(failureBox), kFailureText);
  probe::Click(failureBox, IDOK);

  EXPECT_TRUE(Exited(updater));
  EXPECT_FALSE(install.TargetStarted(kQuietMs));
}

TEST(UpdaterRun, ManifestIsAskedForOnceWhileTheFetchFailureBoxWaits) {
  Installation install;
  harness::ServeFaults();
  harness::Reply closeWithoutAnswer;
  closeWithoutAnswer.headers = false;
  harness::SetReply("/update_go/update.htm", closeWithoutAnswer);

  harness::Process updater = install.StartUpdater();
  HWND fetchBox = probe::WaitForDialog(kTitle, kWindowMs);
  ASSERT_NE(fetchBox, nullptr);
  Sleep(1000);  // five timer periods
  EXPECT_THAT(harness::Requests(), ElementsAre(Field(&harness::Request::line, kManifestRequest)));
  probe::Click(fetchBox, IDOK);

  HWND failureBox = probe::WaitForDialog(L"failed", kWindowMs);
  ASSERT_NE(failureBox, nullptr);
  probe::Click(failureBox, IDOK);
  EXPECT_TRUE(Exited(updater));
  EXPECT_THAT(harness::Requests(), SizeIs(1));
}

TEST(UpdaterKeys, EscapeBeforeTheFirstTickEndsWithoutAnyRequest) {
  Installation install;
  install.PublishManifest(install.CurrentManifest());
  install.ServeWithNginx();

  harness::Process updater = install.StartUpdater();
  HWND progress = probe::WaitForProgressWindow(kWindowMs);
  ASSERT_NE(progress, nullptr);
  probe::PostKey(progress, VK_ESCAPE);

  EXPECT_TRUE(Exited(updater));
  EXPECT_THAT(harness::Requests(), IsEmpty());
  EXPECT_FALSE(install.TargetStarted(kQuietMs));
}

TEST(UpdaterKeys, EnterBeforeTheFirstTickKeepsTheWindowAndTheUpdateRunsOnce) {
  Installation install;
  install.PublishManifest(install.CurrentManifest());
  install.ServeWithNginx();

  harness::Process updater = install.StartUpdater();
  HWND progress = probe::WaitForProgressWindow(kWindowMs);
  ASSERT_NE(progress, nullptr);
  probe::PostKey(progress, VK_RETURN);

  EXPECT_TRUE(install.TargetStarted(kWindowMs));
  EXPECT_TRUE(Exited(updater));
  EXPECT_THAT(harness::Requests(), ElementsAre(Field(&harness::Request::line, kManifestRequest)));
}

TEST_F(FullDisk, FileErrorBoxNamesTheDestinationAndTheWindowStaysUntilEscape) {
  EXPECT_EQ(probe::BoxText(errorBox_), L"在存取 " + install_.Path(L"Ostravine.exe") + L" 时磁盘已满。");
  DismissErrorBox();

  EXPECT_FALSE(Exited(*updater_, kQuietMs)) << "the window closed after the file error";
  EXPECT_TRUE(IsWindow(progress_));
  EXPECT_EQ(probe::FindDialog(L"failed"), nullptr);
  probe::PostKey(progress_, VK_RETURN);
  EXPECT_FALSE(Exited(*updater_, kQuietMs)) << "Enter closed the window";

  probe::PostKey(progress_, VK_ESCAPE);
  EXPECT_TRUE(Exited(*updater_));
  EXPECT_FALSE(install_.TargetStarted(kQuietMs));
  EXPECT_EQ(install_.TargetBytes(), before_);
}

TEST_F(FullDisk, ProgressWindowShowsItsNoticeCentredWithoutOwner) {
  DismissErrorBox();
  EXPECT_EQ(probe::Caption(progress_), L"");
  EXPECT_THAT(probe::Controls(progress_),
              ElementsAre(AllOf(Field(&probe::Control::className, L"Static"),
                                Field(&probe::Control::text, L"系统正在初始化，请稍侯..."))));
  EXPECT_EQ(GetWindow(progress_, GW_OWNER), nullptr);
  EXPECT_NE(GetWindowLongW(progress_, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0) << "no taskbar button";

  RECT work{}, window{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(progress_, &window);
  EXPECT_NEAR(window.left + window.right, work.left + work.right, 1);
  EXPECT_NEAR(window.top + window.bottom, work.top + work.bottom, 1);
}

TEST_F(FullDisk, AboutBoxOpensForSystemCommands0x10To0x1FOnly) {
  DismissErrorBox();
  for (UINT command : {0x0010u, 0x001Fu}) {
    probe::PostSysCommand(progress_, command);
    HWND about = probe::WaitForDialog(kAboutCaption, kWindowMs);
    ASSERT_NE(about, nullptr) << "system command " << command;
    EXPECT_THAT(probe::Controls(about),
                ElementsAre(Field(&probe::Control::style, 0x50000003), Field(&probe::Control::text, L"Merovast 1.0 版"),
                            Field(&probe::Control::text, L"版权所有 (C) 2024 Merovast 开发组"),
                            Field(&probe::Control::text, L"确定")));
    if (command == 0x0010u) {
      probe::Click(about, IDOK);
    } else {
      probe::PostKey(about, VK_ESCAPE);
    }
    EXPECT_TRUE(probe::WaitUntilGone(about, kWindowMs));
  }
  for (UINT command : {0x0000u, 0x000Fu, 0x0020u, 0x0100u}) {
    probe::PostSysCommand(progress_, command);
    EXPECT_TRUE(probe::StaysAbsent(kAboutCaption, kQuietMs / 2)) << "system command " << command;
  }
  EXPECT_TRUE(IsWindow(progress_));
}

TEST_F(FullDisk, F1InEitherWindowAsksForHelpAndReportsTheViewerMissing) {
  DismissErrorBox();
  probe::PressKey(progress_, VK_F1);
  HWND box = probe::WaitForDialog(kTitle, kWindowMs);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(probe::BoxText(box), L"启动帮助失败。");
  probe::Click(box, IDOK);
  ASSERT_TRUE(probe::WaitUntilGone(box, kWindowMs));

  probe::PostSysCommand(progress_, 0x0010);
  HWND about = probe::WaitForDialog(kAboutCaption, kWindowMs);
  ASSERT_NE(about, nullptr);
  probe::PressKey(about, VK_F1);
  box = probe::WaitForDialog(kTitle, kWindowMs);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(probe::BoxText(box), L"启动帮助失败。");
  probe::Click(box, IDOK);
  EXPECT_TRUE(probe::WaitUntilGone(box, kWindowMs));
  EXPECT_TRUE(IsWindow(about));
}

TEST_F(FullDisk, ClosingThroughTheSystemEndsTheUpdater) {
  DismissErrorBox();
  probe::PostSysCommand(progress_, SC_CLOSE);
  EXPECT_TRUE(Exited(*updater_));
  EXPECT_FALSE(install_.TargetStarted(kQuietMs));
}

}  // namespace
