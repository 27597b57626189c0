// The main window, driven through its widgets: captions, enabling rules,
// the settings' texts, the keyboard (page cycling and the hidden sequence),
// the run frame and the help page.
#include <QApplication>
#include <QFileDialog>
#include <QLayout>
#include <QListView>
#include <QRegularExpression>
#include <QTest>
#include <QTextEdit>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/ui/frm_dir.h"
#include "app/ui/frm_main.h"
#include "app/ui/frm_setsize.h"
#include "platform/paths.h"
#include "ui_test_support.h"

using app::ui::TfrmMain;
using app::ui::testing::OnNextModal;
using app::ui::testing::RecordingUi;
using app::ui::testing::TempDrive;

namespace {

QString U(const char* utf8) {
  return QString::fromUtf8(utf8);
}

const QRegularExpression kElapsed(
    QRegularExpression::anchoredPattern(U("共費時 : \\d\\d:\\d\\d:\\d\\d:\\d\\d\\d")));

// Types Alt+letter for each letter of `letters` on `target`.
void AltLetters(QWidget* target, const char* letters, Qt::KeyboardModifiers extra = {}) {
  for (const char* c = letters; *c != '\0'; ++c) {
    QTest::keyClick(target, static_cast<Qt::Key>(Qt::Key_A + (*c - 'A')), Qt::AltModifier | extra);
  }
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  std::filesystem::path record_;

  int GreetingCalls() const {
    std::ifstream in(record_);
    std::string line;
    int calls = 0;
    while (std::getline(in, line)) {
      if (line != "60") return -1;  // called with anything but 60
      ++calls;
    }
    return calls;
  }

 private slots:
  void initTestCase() {
    record_ = std::filesystem::temp_directory_path() /
              ("orv_tavrenna_" + std::to_string(QCoreApplication::applicationPid()) + ".txt");
    qputenv("TAVRENNA_RECORD", QByteArray::fromStdString(record_.string()));
  }
  void init() { std::filesystem::remove(record_); }
  void cleanupTestCase() { std::filesystem::remove(record_); }

  void startsWithItsCaptionsAndBothRunButtonsDisabled() {
    TfrmMain w;
    QCOMPARE(w.windowTitle(), U("備份程式"));
    QCOMPARE(w.minimumSize(), QSize(513, 300));
    QCOMPARE(w.size(), QSize(513, 300));
    // Every control fits in the smallest window.
    QVERIFY(w.layout()->minimumSize().width() <= 513);
    QVERIFY(w.layout()->minimumSize().height() <= 300);

    QCOMPARE(w.PageControl1->count(), 3);
    QCOMPARE(w.PageControl1->tabText(0), U("備份"));
    QCOMPARE(w.PageControl1->tabText(1), U("回覆"));
    QCOMPARE(w.PageControl1->tabText(2), U("說明"));
    const std::vector<std::pair<QString, const char*>> captions = {
        {w.Label1->text(), "備份目錄"},
        {w.Label2->text(), "設定備份檔案大小"},
        {w.stDBSize->text(), "不限定"},
        {w.Label3->text(), "指定備份檔案"},
        {w.stDBFile->text(), "不指定"},
        {w.CheckBox1->text(), "使用壓縮備份"},
        {w.chkBackNewFile->text(), "將有異動的檔案備份至新檔"},
        {w.Label5->text(), "指定備份檔名"},
        {w.edtBackFileName->text(), "Back"},
        {w.Label4->text(), "備份檔案存放位置"},
        {w.btnStart->text(), "執行備份"},
        {w.Label7->text(), "指定備份檔案"},
        {w.stDBFile1->text(), "不指定"},
        {w.btnBack->text(), "執行回覆"},
        {w.Label6->text(), "回寫目錄"},
        {w.stStatR->text(), "   "},
        {w.stStat2->text(), "   "},
        {w.labBPath->text(), ""},
        {w.stTemppath->text(), ""},
        {w.stBackPath->text(), ""},
        {w.stStat->text(), ""},
    };
    for (const auto& [shown, expected] : captions) QCOMPARE(shown, U(expected));
    for (QToolButton* set : {w.SpeedButton1, w.SpeedButton2, w.SpeedButton3, w.SpeedButton4,
                             w.SpeedButton5, w.stRoPath}) {
      QCOMPARE(set->text(), U("設定"));
      QVERIFY(set->autoRaise());
    }
    QCOMPARE(w.stStat->height(), 24);
    QCOMPARE(w.stStat2->width(), 140);
    QCOMPARE(w.ProgressBar1->minimum(), 0);
    QCOMPARE(w.ProgressBar1->maximum(), 100);
    QVERIFY(!w.CheckBox1->isChecked());
    QVERIFY(!w.chkBackNewFile->isChecked());
    QVERIFY(!w.chkBackNewFile->isEnabled());
    QVERIFY(!w.btnStart->isEnabled());
    QVERIFY(!w.btnBack->isEnabled());
    QCOMPARE(w.OpenDialog1->nameFilters(), QStringList{QStringLiteral("*.dat (*.dat)")});
  }

  void settingsDriveTheButtonsAndTexts() {
    TfrmMain w;
    w.SetSourceDir("D:\\Data");
    QCOMPARE(w.labBPath->text(), QStringLiteral("D:\\Data"));
    QVERIFY(!w.btnStart->isEnabled());

    w.SetTargetFile("E:\\Back.dat");
    QVERIFY(w.btnStart->isEnabled());
    QVERIFY(w.btnBack->isEnabled());
    QVERIFY(w.chkBackNewFile->isEnabled());
    QCOMPARE(w.stDBFile->text(), QStringLiteral("E:\\Back.dat"));
    QCOMPARE(w.stDBFile1->text(), QStringLiteral("E:\\Back.dat"));

    w.chkBackNewFile->setChecked(true);
    w.SetNewBackupDir("E:\\Out");  // clears the backup file
    QCOMPARE(w.stTemppath->text(), QStringLiteral("E:\\Out"));
    QCOMPARE(w.stDBFile->text(), U("不指定"));
    QCOMPARE(w.stDBFile1->text(), U("不指定"));
    QVERIFY(w.btnStart->isEnabled());
    QVERIFY(!w.btnBack->isEnabled());
    QVERIFY(!w.chkBackNewFile->isEnabled());
    QVERIFY(w.chkBackNewFile->isChecked());  // disabling keeps the check mark

    w.SetTargetFile("E:\\Back.dat");  // empties the folder
    QCOMPARE(w.stTemppath->text(), QString());
    QCOMPARE(w.State().FNewBackupDir, std::string());

    w.SetRestoreDir("E:\\Restore");
    QCOMPARE(w.stBackPath->text(), QStringLiteral("E:\\Restore"));
  }

  void cancelledSourceDialogClearsTheSource() {
    TfrmMain w;
    w.SetSourceDir("D:\\Data");
    w.SetNewBackupDir("E:\\Out");
    QVERIFY(w.btnStart->isEnabled());
    OnNextModal([](QWidget* modal) {
      QVERIFY(dynamic_cast<app::ui::TfrmDir*>(modal) != nullptr);
      static_cast<QDialog*>(modal)->reject();
    });
    w.SpeedButton1->click();
    QCOMPARE(w.labBPath->text(), QString());
    QVERIFY(!w.btnStart->isEnabled());
  }

  void confirmedFolderDialogSetsTheFolder() {
    const std::string previous = platform::GetCurrentDirectory();
    TempDrive d('D');
    d.MakeDir("Out");
    QVERIFY(platform::SetCurrentDirectory("D:\\Out"));
    TfrmMain w;
    w.SetTargetFile("D:\\Back.dat");
    OnNextModal([](QWidget* modal) { static_cast<app::ui::TfrmDir*>(modal)->Button1->click(); });
    w.SpeedButton3->click();
    QCOMPARE(w.stTemppath->text(), QStringLiteral("D:\\Out"));
    QCOMPARE(w.stDBFile->text(), U("不指定"));
    QVERIFY(platform::SetCurrentDirectory(previous));
  }

  void sizeButtonShowsTheChosenSize_data() {
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("700") << U("700MB") << QString() << U("700 MB");
    QTest::newRow("640") << U("640MB") << QString() << U("640 MB");
    QTest::newRow("custom") << U("自行設定") << QStringLiteral("1200") << U("1200 MB");
    QTest::newRow("no limit") << U("不限定") << QString() << U("不限定");
  }

  void sizeButtonShowsTheChosenSize() {
    QFETCH(QString, preset);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    TfrmMain w;
    w.SetSizeLimit(5);
    OnNextModal([preset, typed](QWidget* modal) {
      auto* dialog = dynamic_cast<app::ui::TfrmSetsize*>(modal);
      QVERIFY(dialog != nullptr);
      QCOMPARE(dialog->FSize, 5);
      dialog->cmbDataBasesSize->setCurrentIndex(dialog->cmbDataBasesSize->findText(preset));
      QTest::keyClicks(dialog->edtSetDBSize, typed);
      dialog->close();  // the close box
    });
    w.SpeedButton4->click();
    QCOMPARE(w.stDBSize->text(), shown);
  }

  void checkingBackNewFileRemovesTheSizeLimit() {
    TfrmMain w;
    w.show();
    w.SetTargetFile("E:\\Back.dat");
    w.SetSizeLimit(700);
    QCOMPARE(w.stDBSize->text(), U("700 MB"));
    QTest::mouseClick(w.chkBackNewFile, Qt::LeftButton, {},
                      QPoint(5, w.chkBackNewFile->height() / 2));
    QVERIFY(w.chkBackNewFile->isChecked());
    QCOMPARE(w.stDBSize->text(), U("不限定"));
    QCOMPARE(w.State().FSizeLimitMB, 0);
  }

  void compressionCheckBoxSetsTheFlag() {
    TfrmMain w;
    w.show();
    QTest::mouseClick(w.CheckBox1, Qt::LeftButton, {}, QPoint(5, w.CheckBox1->height() / 2));
    QCOMPARE(w.State().FZipFlag, std::string("Y"));
    QTest::mouseClick(w.CheckBox1, Qt::LeftButton, {}, QPoint(5, w.CheckBox1->height() / 2));
    QCOMPARE(w.State().FZipFlag, std::string("N"));
  }

  void leavingAnEmptyBackFileNameGivesBACK() {
    TfrmMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.edtBackFileName->setFocus();
    QTRY_VERIFY(w.edtBackFileName->hasFocus());
    w.edtBackFileName->clear();
    QCOMPARE(w.State().BackFileName, std::string());
    w.btnStart->setEnabled(true);
    w.CheckBox1->setFocus(Qt::TabFocusReason);  // leave the edit
    QTRY_COMPARE(w.edtBackFileName->text(), QStringLiteral("BACK"));
    QCOMPARE(w.State().BackFileName, std::string("BACK"));

    // A name that is not empty is kept as typed.
    w.edtBackFileName->setFocus();
    QTRY_VERIFY(w.edtBackFileName->hasFocus());
    w.edtBackFileName->setText(QStringLiteral("Week"));
    w.CheckBox1->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(!w.edtBackFileName->hasFocus());
    QCOMPARE(w.edtBackFileName->text(), QStringLiteral("Week"));
  }

  void ctrlTabCyclesThePages_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<bool>("shift");
    QTest::newRow("0 to 1") << 0 << 1 << false;
    QTest::newRow("1 to 2") << 1 << 2 << false;
    QTest::newRow("2 to 0") << 2 << 0 << false;
    QTest::newRow("with Shift still forward") << 0 << 1 << true;
  }

  void ctrlTabCyclesThePages() {
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(bool, shift);
    TfrmMain w;
    w.show();
    w.PageControl1->setCurrentIndex(from);
    // The window sees the key before the control that has it.
    QWidget* target = from == 0   ? static_cast<QWidget*>(w.edtBackFileName)
                      : from == 1 ? static_cast<QWidget*>(w.PageControl1)
                                  : static_cast<QWidget*>(w.RichEdit1);
    const Qt::KeyboardModifiers mods =
        shift ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier;
    QTest::keyClick(target, shift ? Qt::Key_Backtab : Qt::Key_Tab, mods);
    QCOMPARE(w.PageControl1->currentIndex(), to);
  }

  void hiddenSequenceCallsTheGreeting_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("letters");
    QTest::addColumn<bool>("withShift");
    QTest::addColumn<int>("calls");
    QTest::addColumn<QString>("bufferAfter");
    QTest::newRow("DESIGN on the help page") << 2 << "DESIGN" << false << 1 << "";
    QTest::newRow("a letter before it") << 2 << "XDESIGN" << false << 1 << "";
    QTest::newRow("twice") << 2 << "DESIGNDESIGN" << false << 2 << "";
    QTest::newRow("not complete") << 2 << "DESIG" << false << 0 << "DESIG";
    QTest::newRow("on the backup page") << 0 << "DESIGN" << false << 0 << "";
    QTest::newRow("on the restore page") << 1 << "DESIGN" << false << 0 << "";
    QTest::newRow("Alt with Shift") << 2 << "DESIGN" << true << 0 << "";
  }

  void hiddenSequenceCallsTheGreeting() {
    QFETCH(int, page);
    QFETCH(QString, letters);
    QFETCH(bool, withShift);
    QFETCH(int, calls);
    QFETCH(QString, bufferAfter);
    TfrmMain w;
    w.show();
    w.PageControl1->setCurrentIndex(page);
    AltLetters(w.PageControl1->currentWidget(), letters.toLatin1().constData(),
               withShift ? Qt::ShiftModifier : Qt::NoModifier);
    QCOMPARE(GreetingCalls(), calls);
    QCOMPARE(QString::fromStdString(w.FKeyBuffer()), bufferAfter);
  }

  void runFrameReenablesAndShowsTheElapsedTime_data() {
    QTest::addColumn<bool>("backup");
    QTest::addColumn<bool>("emptyTree");
    QTest::addColumn<int>("messageBoxes");
    QTest::newRow("backup into a missing folder: the error is shown") << true << false << 1;
    QTest::newRow("backup of an empty tree ends quietly") << true << true << 0;
    QTest::newRow("restore of a missing backup file: the error is shown") << false << false << 1;
  }

  void runFrameReenablesAndShowsTheElapsedTime() {
    QFETCH(bool, backup);
    QFETCH(bool, emptyTree);
    QFETCH(int, messageBoxes);
    RecordingUi ui;
    TempDrive d('D');
    d.MakeDir("Empty/sub");
    d.MakeFile("Src/a.txt");
    TfrmMain w;
    w.SetSourceDir(emptyTree ? "D:\\Empty" : "D:\\Src");
    if (backup) {
      w.SetNewBackupDir("D:\\Out");
    } else {
      w.SetTargetFile("D:\\Back.dat");
    }
    (backup ? w.btnStart : w.btnBack)->click();
    QCOMPARE(static_cast<int>(ui.boxes.size()), messageBoxes);
    QVERIFY2(kElapsed.match(w.stStat2->text()).hasMatch(), qPrintable(w.stStat2->text()));
    for (QWidget* control : std::initializer_list<QWidget*>{
             w.CheckBox1, w.SpeedButton1, w.SpeedButton2, w.SpeedButton3, w.SpeedButton4,
             w.SpeedButton5, w.stRoPath, w.edtBackFileName}) {
      QVERIFY(control->isEnabled());
    }
    QVERIFY((backup ? w.btnStart : w.btnBack)->isEnabled());
    QCOMPARE(w.State().FSourceDir, std::string(emptyTree ? "D:\\Empty" : "D:\\Src"));
  }

  void setControlsEnabledTouchesOnlyTheSettings() {
    TfrmMain w;
    w.SetSourceDir("D:\\Data");
    w.SetTargetFile("E:\\Back.dat");
    w.SetControlsEnabled(false);
    for (QWidget* control : std::initializer_list<QWidget*>{
             w.CheckBox1, w.SpeedButton1, w.SpeedButton2, w.SpeedButton3, w.SpeedButton4,
             w.SpeedButton5, w.stRoPath, w.edtBackFileName}) {
      QVERIFY(!control->isEnabled());
    }
    QVERIFY(w.btnStart->isEnabled());
    QVERIFY(w.btnBack->isEnabled());
    QVERIFY(w.PageControl1->isEnabled());
  }

  void openDialogChoosesTheBackupFile() {
    TempDrive d('D');
    d.MakeFile("Backups/Back.dat");
    d.MakeFile("Backups/Old.DAT");
    d.MakeFile("Backups/notes.txt");
    TfrmMain w;
    w.SetNewBackupDir("D:\\Out");
    w.OpenDialog1->setDirectory(QString::fromStdString((d.Root() / "Backups").string()));
    QStringList listed;
    OnNextModal([&listed](QWidget* modal) {
      // What the dialog lists: .dat files whatever the case of the extension.
      auto* view = modal->findChild<QListView*>(QStringLiteral("listView"));
      if (view != nullptr) {
        QTest::qWait(300);  // the file system model fills the view in the background
        const QModelIndex root = view->rootIndex();
        for (int row = 0; row < view->model()->rowCount(root); ++row) {
          if (!view->isRowHidden(row))
            listed << view->model()->index(row, 0, root).data().toString();
        }
      }
      static_cast<QDialog*>(modal)->reject();
    });
    w.SpeedButton2->click();
    listed.sort();
    QCOMPARE(listed, (QStringList{"Back.dat", "Old.DAT"}));
    QCOMPARE(w.stDBFile->text(), U("不指定"));  // cancelled: nothing changes
    QCOMPARE(w.stTemppath->text(), QStringLiteral("D:\\Out"));

    const QString host = QString::fromStdString((d.Root() / "Backups/Back.dat").string());
    OnNextModal([host](QWidget* modal) {
      auto* dialog = dynamic_cast<QFileDialog*>(modal);
      QVERIFY(dialog != nullptr);
      // Type the file's full name, as a user may.
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      QVERIFY(name != nullptr);
      name->setText(host);
      static_cast<QDialog*>(dialog)->accept();
    });
    w.SpeedButton5->click();  // the restore page's button does the same
    QCOMPARE(w.State().FTargetFile, std::string("D:\\Backups\\Back.dat"));
    QCOMPARE(w.stDBFile1->text(), QStringLiteral("D:\\Backups\\Back.dat"));
    QCOMPARE(w.stTemppath->text(), QString());
  }

  void helpPageHoldsTheManual() {
    TfrmMain w;
    const QStringList lines = w.RichEdit1->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 16);
    QCOMPARE(lines.first(), U("這是一個發展中的備份檔案的程式,以下是使用說明"));
    QCOMPARE(lines[1], U("備份"));
    QCOMPARE(lines[10], U("回覆"));
    QCOMPARE(lines[12], U("   會回覆,至來源目錄中"));
    QCOMPARE(lines[13], QStringLiteral(" "));
    QCOMPARE(lines[14], QStringLiteral("   "));
    QCOMPARE(lines[15], QString());
    QVERIFY(w.RichEdit1->isReadOnly());
    QCOMPARE(w.RichEdit1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(w.RichEdit1->palette().color(QPalette::Text), QColor(Qt::yellow));
    QVERIFY(w.RichEdit1->palette().color(QPalette::Base) != QColor(Qt::yellow));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
