// The size-limit dialog and the directory dialog, driven through their widgets.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <functional>

#include "app/ui/frm_dir.h"
#include "app/ui/frm_setsize.h"
#include "app/ui/qt_ui_services.h"
#include "platform/paths.h"
#include "ui_test_support.h"

using app::ui::TfrmDir;
using app::ui::TfrmSetsize;
using app::ui::testing::OnNextModal;
using app::ui::testing::TempDrive;

Q_DECLARE_METATYPE(std::function<void(TfrmSetsize&)>)

namespace {

QString U(const char* utf8) {
  return QString::fromUtf8(utf8);
}

// Chooses an item of the combo as a user does: the list's item becomes the text.
void Choose(TfrmSetsize& dialog, const char* item) {
  const int index = dialog.cmbDataBasesSize->findText(U(item));
  QVERIFY(index >= 0);
  dialog.cmbDataBasesSize->setCurrentIndex(index);
}

void Type(TfrmSetsize& dialog, const char* keys) {
  QTest::keyClicks(dialog.edtSetDBSize, QString::fromLatin1(keys));
}

QStringList ItemPaths(const QListWidget& list) {
  QStringList paths;
  for (int i = 0; i < list.count(); ++i) paths << list.item(i)->data(Qt::UserRole).toString();
  return paths;
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void sizeDialogStartsWithThePresetsAndAnEnabledEdit() {
    TfrmSetsize dialog;
    QCOMPARE(dialog.windowTitle(), U("檔案大小設定"));
    QCOMPARE(dialog.size(), QSize(287, 65));
    QCOMPARE(dialog.Button1->text(), U("確 定"));
    QStringList items;
    for (int i = 0; i < dialog.cmbDataBasesSize->count(); ++i) {
      items << dialog.cmbDataBasesSize->itemText(i);
    }
    QCOMPARE(items, (QStringList{U("不限定"), U("640MB"), U("700MB"), U("自行設定")}));
    QCOMPARE(dialog.cmbDataBasesSize->currentText(), QString());
    QVERIFY(dialog.edtSetDBSize->isEnabled());
    QCOMPARE(dialog.edtSetDBSize->text(), QString());
  }

  void sizeDialogValue_data() {
    QTest::addColumn<std::function<void(TfrmSetsize&)>>("act");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("editEnabled");
    using Act = std::function<void(TfrmSetsize&)>;
    QTest::newRow("nothing chosen keeps the current limit")
        << Act([](TfrmSetsize&) {}) << 123 << true;
    QTest::newRow("typed without choosing a preset")
        << Act([](TfrmSetsize& d) { Type(d, "300"); }) << 300 << true;
    QTest::newRow("640MB after a typed number") << Act([](TfrmSetsize& d) {
      Type(d, "1200");
      Choose(d, "640MB");
    }) << 640 << false;
    QTest::newRow("700MB") << Act([](TfrmSetsize& d) { Choose(d, "700MB"); }) << 700 << false;
    QTest::newRow("no limit") << Act([](TfrmSetsize& d) { Choose(d, "不限定"); }) << 0 << false;
    QTest::newRow("custom then 1200") << Act([](TfrmSetsize& d) {
      Choose(d, "自行設定");
      Type(d, "1200");
    }) << 1200 << true;
    QTest::newRow("custom, 1200, digits deleted") << Act([](TfrmSetsize& d) {
      Choose(d, "自行設定");
      Type(d, "1200");
      for (int i = 0; i < 4; ++i) QTest::keyClick(d.edtSetDBSize, Qt::Key_Backspace);
    }) << 10 << true;
    QTest::newRow("a typed combo text that is no item disables the edit")
        << Act([](TfrmSetsize& d) {
             Type(d, "42");
             QTest::keyClicks(d.cmbDataBasesSize, QStringLiteral("9"));
           })
        << 42 << false;
  }

  void sizeDialogValue() {
    QFETCH(std::function<void(TfrmSetsize&)>, act);
    QFETCH(int, size);
    QFETCH(bool, editEnabled);
    TfrmSetsize dialog;
    dialog.FSize = 123;
    dialog.show();
    act(dialog);
    QCOMPARE(dialog.FSize, size);
    QCOMPARE(dialog.edtSetDBSize->isEnabled(), editEnabled);
    if (!editEnabled) QCOMPARE(dialog.edtSetDBSize->text(), QString());
  }

  void sizeEditSwallowsEverythingButDigitsAndBackspace() {
    TfrmSetsize dialog;
    dialog.show();
    QTest::keyClicks(dialog.edtSetDBSize, QStringLiteral("1a-2+B. 3"));
    QCOMPARE(dialog.edtSetDBSize->text(), QStringLiteral("123"));
    QTest::keyClick(dialog.edtSetDBSize, Qt::Key_Minus);
    QTest::keyClick(dialog.edtSetDBSize, Qt::Key_A, Qt::ShiftModifier);
    QCOMPARE(dialog.edtSetDBSize->text(), QStringLiteral("123"));
    QTest::keyClick(dialog.edtSetDBSize, Qt::Key_Backspace);
    QCOMPARE(dialog.edtSetDBSize->text(), QStringLiteral("12"));
    QCOMPARE(dialog.FSize, 12);
  }

  void askSizeLimitReturnsTheValueShownHoweverClosed_data() {
    QTest::addColumn<int>("how");  // 0 close box, 1 Escape, 2 the button
    QTest::newRow("close box") << 0;
    QTest::newRow("Escape") << 1;
    QTest::newRow("button") << 2;
  }

  void askSizeLimitReturnsTheValueShownHoweverClosed() {
    QFETCH(int, how);
    OnNextModal([how](QWidget* modal) {
      auto* dialog = dynamic_cast<TfrmSetsize*>(modal);
      QVERIFY(dialog != nullptr);
      Choose(*dialog, "640MB");
      if (how == 0) dialog->close();
      if (how == 1) QTest::keyClick(dialog, Qt::Key_Escape);
      if (how == 2) dialog->Button1->click();
    });
    QCOMPARE(app::ui::AskSizeLimit(nullptr, 5), 640);
  }

  void messageBoxAnswersWithTheButtonChosen_data() {
    QTest::addColumn<int>("buttons");  // platform::MsgButtons
    QTest::addColumn<int>("press");    // QMessageBox::StandardButton, 0 for the close box
    QTest::addColumn<int>("answer");   // platform::MsgResult
    using platform::MsgButtons;
    using platform::MsgResult;
    QTest::newRow("Ok") << int(MsgButtons::Ok) << int(QMessageBox::Ok) << int(MsgResult::Ok);
    QTest::newRow("Yes") << int(MsgButtons::YesNo) << int(QMessageBox::Yes) << int(MsgResult::Yes);
    QTest::newRow("No") << int(MsgButtons::YesNo) << int(QMessageBox::No) << int(MsgResult::No);
    QTest::newRow("Cancel") << int(MsgButtons::YesNoCancel) << int(QMessageBox::Cancel)
                            << int(MsgResult::Cancel);
    QTest::newRow("Yes to all") << int(MsgButtons::YesNoAll) << int(QMessageBox::YesToAll)
                                << int(MsgResult::YesToAll);
    QTest::newRow("Retry") << int(MsgButtons::AbortRetryIgnore) << int(QMessageBox::Retry)
                           << int(MsgResult::Retry);
    QTest::newRow("Escape in OK/Cancel")
        << int(MsgButtons::OkCancel) << 0 << int(MsgResult::Cancel);
  }

  void messageBoxAnswersWithTheButtonChosen() {
    QFETCH(int, buttons);
    QFETCH(int, press);
    QFETCH(int, answer);
    QString shownText, shownTitle;
    OnNextModal([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      QVERIFY(box != nullptr);
      shownText = box->text();
      shownTitle = box->windowTitle();
      if (press == 0) {
        QTest::keyClick(box, Qt::Key_Escape);
      } else {
        box->button(static_cast<QMessageBox::StandardButton>(press))->click();
      }
    });
    app::ui::QtUiServices services;
    const platform::MsgResult result =
        services.MessageBox("完成了,萬歲!!", "備份程式", static_cast<platform::MsgButtons>(buttons),
                            platform::MsgIcon::Information, platform::MsgResult::None);
    QCOMPARE(int(result), answer);
    QCOMPARE(shownText, U("完成了,萬歲!!"));
    QCOMPARE(shownTitle, U("備份程式"));
  }

  void directoryDialogStartsAtTheCurrentDirectory() {
    const std::string previous = platform::GetCurrentDirectory();
    TempDrive d('D');
    TempDrive e('E');
    d.MakeDir("Data/Sub/beta");
    d.MakeDir("Data/Sub/Alpha");
    d.MakeDir("Data/Sub/.hidden");
    d.MakeFile("Data/Sub/file.txt");
    e.MakeDir("Other");
    QVERIFY(platform::SetCurrentDirectory("D:\\Data\\Sub"));

    TfrmDir dialog;
    QCOMPARE(dialog.windowTitle(), U("設定目錄"));
    QCOMPARE(dialog.Button1->text(), U("確  定"));
    QCOMPARE(dialog.Label1->text(), QStringLiteral("D:\\Data\\Sub"));
    QCOMPARE(dialog.Directory(), std::string("D:\\Data\\Sub"));
    // The chain from the root, then the visible subdirectories sorted ignoring case.
    QCOMPARE(ItemPaths(*dialog.DirectoryListBox1),
             (QStringList{"D:\\", "D:\\Data", "D:\\Data\\Sub", "D:\\Data\\Sub\\Alpha",
                          "D:\\Data\\Sub\\beta"}));
    QStringList drives;
    for (int i = 0; i < dialog.DriveComboBox1->count(); ++i) {
      drives << dialog.DriveComboBox1->itemText(i);
    }
    QVERIFY(drives.contains("D:") && drives.contains("E:"));
    QCOMPARE(dialog.DriveComboBox1->currentText(), QStringLiteral("D:"));

    // Clicking selects, opening lists the children.
    dialog.DirectoryListBox1->setCurrentRow(3);
    QCOMPARE(dialog.Directory(), std::string("D:\\Data\\Sub\\Alpha"));
    QCOMPARE(dialog.Label1->text(), QStringLiteral("D:\\Data\\Sub\\Alpha"));
    dialog.DirectoryListBox1->setCurrentRow(1);
    emit dialog.DirectoryListBox1->itemActivated(dialog.DirectoryListBox1->item(1));
    QTRY_COMPARE(ItemPaths(*dialog.DirectoryListBox1),
                 (QStringList{"D:\\", "D:\\Data", "D:\\Data\\Sub"}));
    QCOMPARE(dialog.Directory(), std::string("D:\\Data"));

    // Another drive starts at its root.
    const int eIndex = dialog.DriveComboBox1->findText("E:");
    dialog.DriveComboBox1->setCurrentIndex(eIndex);
    emit dialog.DriveComboBox1->activated(eIndex);
    QCOMPARE(dialog.Directory(), std::string("E:\\"));
    QCOMPARE(ItemPaths(*dialog.DirectoryListBox1), (QStringList{"E:\\", "E:\\Other"}));

    QVERIFY(platform::SetCurrentDirectory(previous));
  }

  void askDirectoryReturnsTheSelectionOrNothing() {
    const std::string previous = platform::GetCurrentDirectory();
    TempDrive d('D');
    d.MakeDir("Data/Sub");
    QVERIFY(platform::SetCurrentDirectory("D:\\Data"));

    OnNextModal([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    QCOMPARE(app::ui::AskDirectory(nullptr), std::string());

    OnNextModal([](QWidget* modal) {
      auto* dialog = dynamic_cast<TfrmDir*>(modal);
      QVERIFY(dialog != nullptr);
      dialog->DirectoryListBox1->setCurrentRow(2);  // D:\Data\Sub
      dialog->Button1->click();
    });
    QCOMPARE(app::ui::AskDirectory(nullptr), std::string("D:\\Data\\Sub"));

    QVERIFY(platform::SetCurrentDirectory(previous));
  }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
