// The window running a real backup and restore: the two buttons, the status
// texts and the progress bar seen each time the run lets the window process
// its messages, the final message boxes and the restored files.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/ui/frm_main.h"
#include "ui_test_support.h"

using app::ui::TfrmMain;
using app::ui::testing::RecordingUi;
using app::ui::testing::TempDrive;

namespace {

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Records what the window shows whenever the run processes pending messages.
struct WatchingUi : RecordingUi {
  TfrmMain* window = nullptr;
  std::vector<int> positions;
  std::vector<QString> statuses;
  void ProcessMessages() override {
    QApplication::processEvents();
    if (window == nullptr) return;
    positions.push_back(window->ProgressBar1->value());
    statuses.push_back(window->stStat->text() + window->stStatR->text());
  }
};

}  // namespace

class WindowRunsTest : public QObject {
  Q_OBJECT

 private slots:
  void backupAndRestoreThroughTheButtons_data() {
    QTest::addColumn<bool>("compress");
    QTest::newRow("plain") << false;
    QTest::newRow("compressed") << true;
  }

  void backupAndRestoreThroughTheButtons() {
    QFETCH(bool, compress);
    WatchingUi ui;
    TempDrive d('D');
    TempDrive e('E');
    d.MakeFile("Src/a.txt", "first file");
    d.MakeFile("Src/子目錄/b.txt", "second file");
    e.MakeDir("Out");
    TfrmMain w;
    ui.window = &w;
    w.SetSourceDir("D:\\Src");
    w.SetNewBackupDir("E:\\Out");
    if (compress) w.CheckBox1->click();
    QVERIFY(w.btnStart->isEnabled());
    w.btnStart->click();
    QCOMPARE(ui.boxes, std::vector<std::string>{"完成了,萬歲!!"});
    QCOMPARE(w.ProgressBar1->maximum(), 2);
    QCOMPARE(w.ProgressBar1->value(), 2);
    // The bar moved and the status line named each file while the run went on.
    QVERIFY(std::find(ui.positions.begin(), ui.positions.end(), 1) != ui.positions.end());
    QVERIFY(std::any_of(ui.statuses.begin(), ui.statuses.end(), [](const QString& s) {
      return s.startsWith(QString::fromUtf8("正在處理: D:\\Src\\"));
    }));
    QVERIFY(w.stStat2->text().startsWith(QString::fromUtf8("共費時 : ")));

    ui.boxes.clear();
    ui.positions.clear();
    w.SetTargetFile("E:\\Out\\Back.dat");
    w.SetRestoreDir("E:\\R");
    QVERIFY(w.btnBack->isEnabled());
    w.btnBack->click();
    QCOMPARE(ui.boxes, std::vector<std::string>{"完成了你成功了~~恭喜 共: 2筆"});
    QVERIFY(std::find(ui.positions.begin(), ui.positions.end(), 1) != ui.positions.end());
    QCOMPARE(ReadFile(e.Root() / "R/Src/a.txt"), std::string("first file"));
    QCOMPARE(ReadFile(e.Root() / "R/Src/子目錄/b.txt"), std::string("second file"));
    QVERIFY(w.btnBack->isEnabled() && w.btnStart->isEnabled());
  }
};

QTEST_MAIN(WindowRunsTest)
#include "window_runs_test.moc"
