// Building the main window: its pages, controls, captions and status bar.
// The handlers and the key handling are in frm_main.cpp.
//
// The window is 513 x 300 pixels and cannot be made smaller; every control of
// a page fits in that size.
#include <QApplication>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QStyle>
#include <QVBoxLayout>

#include "app/core/help_text.h"
#include "app/core/texts.h"
#include "app/ui/frm_main.h"
#include "app/ui/qt_text.h"

namespace app::ui {

namespace {

constexpr int kStatusTextWidth = 140;    // stStat2, pixels
constexpr int kProgressMaximum = 100;    // ProgressBar1's design range: 0 to 100
constexpr int kBackupStatusHeight = 24;  // stStat, one line, pixels
constexpr int kRestoreStatusLines = 2;   // stStatR
constexpr int kPageSpacing = 4;          // between rows of a page, pixels
constexpr int kPageMargin = 6;           // around a page, pixels
// The help page: yellow text on the classic active-caption colour (navy).
const QColor kHelpTextColour(255, 255, 0);
const QColor kHelpBackground(0, 0, 128);
// A Traditional-Chinese font for the help text, the first one installed.
const char* const kChineseFonts[] = {"Noto Sans CJK TC", "Noto Sans Mono CJK TC",
                                     "Noto Serif CJK TC", "Noto Sans CJK SC"};

QLabel* SunkenText(QWidget* parent, std::string_view text = {}) {
  auto* label = new QLabel(Q(text), parent);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

QLabel* BorderedText(QWidget* parent, std::string_view text = {}) {
  auto* label = new QLabel(Q(text), parent);
  label->setFrameStyle(QFrame::Box | QFrame::Plain);
  return label;
}

// A flat "設定" speed button.
QToolButton* SetButton(QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setText(Q(texts::kSetButton));
  button->setAutoRaise(true);
  return button;
}

QGridLayout* PageGrid(QWidget* page) {
  auto* grid = new QGridLayout(page);
  grid->setContentsMargins(kPageMargin, kPageMargin, kPageMargin, kPageMargin);
  grid->setVerticalSpacing(kPageSpacing);
  grid->setColumnStretch(1, 1);
  return grid;
}

}  // namespace

void TfrmMain::CreateStatusBar() {
  StatusBar1 = new QStatusBar(this);
  stStat2 = new QLabel(Q(texts::kBlankStatus), StatusBar1);
  stStat2->setFixedWidth(kStatusTextWidth);
  ProgressBar1 = new QProgressBar(StatusBar1);
  ProgressBar1->setRange(0, kProgressMaximum);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);  // a smooth bar
  StatusBar1->addWidget(stStat2);
  StatusBar1->addWidget(ProgressBar1, 1);
  StatusBar1->setSizeGripEnabled(true);
  setStatusBar(StatusBar1);
}

void TfrmMain::CreateBackupPage() {
  tabBack = new QWidget;
  auto* grid = PageGrid(tabBack);
  int row = 0;

  Label1 = new QLabel(Q(texts::kSourceDirLabel), tabBack);
  labBPath = SunkenText(tabBack);
  SpeedButton1 = SetButton(tabBack);
  grid->addWidget(Label1, row, 0);
  grid->addWidget(labBPath, row, 1);
  grid->addWidget(SpeedButton1, row++, 2);

  Label2 = new QLabel(Q(texts::kSizeLimitLabel), tabBack);
  stDBSize = BorderedText(tabBack, texts::kNoSizeLimit);
  SpeedButton4 = SetButton(tabBack);
  grid->addWidget(Label2, row, 0);
  grid->addWidget(stDBSize, row, 1);
  grid->addWidget(SpeedButton4, row++, 2);

  Label3 = new QLabel(Q(texts::kTargetFileLabel), tabBack);
  stDBFile = SunkenText(tabBack, texts::kNoTargetFile);
  SpeedButton2 = SetButton(tabBack);
  grid->addWidget(Label3, row, 0);
  grid->addWidget(stDBFile, row, 1);
  grid->addWidget(SpeedButton2, row++, 2);

  CheckBox1 = new QCheckBox(Q(texts::kCompressCheck), tabBack);
  chkBackNewFile = new QCheckBox(Q(texts::kBackNewFileCheck), tabBack);
  chkBackNewFile->setEnabled(false);
  grid->addWidget(CheckBox1, row, 0);
  grid->addWidget(chkBackNewFile, row++, 1, 1, 2);

  Label5 = new QLabel(Q(texts::kBackFileNameLabel), tabBack);
  edtBackFileName = new QLineEdit(Q(texts::kDefaultBackFileName), tabBack);
  grid->addWidget(Label5, row, 0);
  grid->addWidget(edtBackFileName, row++, 1);

  Label4 = new QLabel(Q(texts::kNewBackupDirLabel), tabBack);
  stTemppath = SunkenText(tabBack);
  SpeedButton3 = SetButton(tabBack);
  grid->addWidget(Label4, row, 0);
  grid->addWidget(stTemppath, row, 1);
  grid->addWidget(SpeedButton3, row++, 2);

  btnStart = new QPushButton(Q(texts::kStartButton), tabBack);
  stStat = BorderedText(tabBack);
  stStat->setFixedHeight(kBackupStatusHeight);
  stStat->setWordWrap(true);
  grid->addWidget(btnStart, row, 0);
  grid->addWidget(stStat, row++, 1, 1, 2);
  grid->setRowStretch(row, 1);

  PageControl1->addTab(tabBack, style()->standardIcon(QStyle::SP_DialogSaveButton),
                       Q(texts::kPageBackup));
}

void TfrmMain::CreateRestorePage() {
  TabRestort = new QWidget;
  auto* grid = PageGrid(TabRestort);
  int row = 0;

  Label7 = new QLabel(Q(texts::kTargetFileLabel), TabRestort);
  stDBFile1 = SunkenText(TabRestort, texts::kNoTargetFile);
  SpeedButton5 = SetButton(TabRestort);
  grid->addWidget(Label7, row, 0);
  grid->addWidget(stDBFile1, row, 1);
  grid->addWidget(SpeedButton5, row++, 2);

  Label6 = new QLabel(Q(texts::kRestoreDirLabel), TabRestort);
  stBackPath = SunkenText(TabRestort);
  stRoPath = SetButton(TabRestort);
  grid->addWidget(Label6, row, 0);
  grid->addWidget(stBackPath, row, 1);
  grid->addWidget(stRoPath, row++, 2);

  btnBack = new QPushButton(Q(texts::kRestoreButton), TabRestort);
  grid->addWidget(btnBack, row++, 0);

  stStatR = BorderedText(TabRestort, texts::kBlankStatus);
  stStatR->setWordWrap(true);
  stStatR->setFixedHeight(stStatR->fontMetrics().lineSpacing() * kRestoreStatusLines +
                          2 * stStatR->frameWidth() + kPageSpacing);
  grid->addWidget(stStatR, row++, 0, 1, 3);
  grid->setRowStretch(row, 1);

  PageControl1->addTab(TabRestort, style()->standardIcon(QStyle::SP_BrowserReload),
                       Q(texts::kPageRestore));
}

void TfrmMain::CreateHelpPage() {
  TabSheet1 = new QWidget;
  auto* column = new QVBoxLayout(TabSheet1);
  column->setContentsMargins(0, 0, 0, 0);

  RichEdit1 = new QTextEdit(TabSheet1);
  RichEdit1->setReadOnly(true);
  RichEdit1->setAcceptRichText(false);
  RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setLineWrapMode(QTextEdit::NoWrap);
  QPalette colours = RichEdit1->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    colours.setColor(group, QPalette::Text, kHelpTextColour);
    colours.setColor(group, QPalette::Base, kHelpBackground);
  }
  RichEdit1->setPalette(colours);
  const QStringList installed = QFontDatabase::families();
  for (const char* family : kChineseFonts) {
    if (installed.contains(QString::fromLatin1(family))) {
      RichEdit1->setFont(QFont(QString::fromLatin1(family)));
      break;
    }
  }
  QStringList lines;
  for (std::string_view line : kHelpLines) lines << Q(line);
  RichEdit1->setPlainText(lines.join(QLatin1Char('\n')));
  column->addWidget(RichEdit1);

  PageControl1->addTab(TabSheet1, style()->standardIcon(QStyle::SP_MessageBoxQuestion),
                       Q(texts::kPageHelp));
}

void TfrmMain::CreateOpenDialog() {
  OpenDialog1 = new QFileDialog(this);
  OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
  OpenDialog1->setFileMode(QFileDialog::ExistingFile);
  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  // Names match the filter without regard to case, as on Windows (Back.DAT too).
  OpenDialog1->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
  // The filter "description|mask|description|mask…" in Qt's "description (mask)" form.
  const QStringList parts = Q(texts::kBackupFileFilter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    filters << parts[i] + QStringLiteral(" (") + parts[i + 1] + QLatin1Char(')');
  }
  OpenDialog1->setNameFilters(filters);
}

}  // namespace app::ui
