// The main window's handlers, keyboard and view; see frm_main.h. The controls
// are built in frm_main_layout.cpp.
#include "app/ui/frm_main.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>

#include "app/core/greeting.h"
#include "app/core/texts.h"
#include "app/ui/frm_dir.h"
#include "app/ui/frm_setsize.h"
#include "app/ui/qt_text.h"
#include "platform/paths.h"

namespace app::ui {

namespace {

constexpr int kMinimumWidth = 513;   // pixels
constexpr int kMinimumHeight = 300;  // pixels
constexpr int kHelpPage = 2;         // index of TabSheet1
constexpr std::string_view kGreetingSequence = "DESIGN";

}  // namespace

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(Q(texts::kWindowCaption));
  PageControl1 = new QTabWidget(this);
  PageControl1->setUsesScrollButtons(false);
  setCentralWidget(PageControl1);
  CreateStatusBar();
  CreateBackupPage();
  CreateRestorePage();
  CreateHelpPage();
  CreateOpenDialog();
  setMinimumSize(kMinimumWidth, kMinimumHeight);
  resize(kMinimumWidth, kMinimumHeight);

  // FormCreate: the core starts with its initial settings and shows them.
  core_ = std::make_unique<app::BackupApplication>(*this);
  ConnectHandlers();
  // The window sees the key presses of its controls before they do.
  qApp->installEventFilter(this);
}

TfrmMain::~TfrmMain() {
  qApp->removeEventFilter(this);
}

void TfrmMain::ConnectHandlers() {
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
  connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
  connect(SpeedButton5, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
  connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
  connect(SpeedButton4, &QToolButton::clicked, this, [this] { SpeedButton4Click(); });
  connect(stRoPath, &QToolButton::clicked, this, [this] { stRoPathClick(); });
  connect(CheckBox1, &QCheckBox::clicked, this, [this] { CheckBox1Click(); });
  connect(chkBackNewFile, &QCheckBox::clicked, this, [this] { chkBackNewFileClick(); });
  connect(edtBackFileName, &QLineEdit::textChanged, this,
          [this](const QString& text) { core_->SetBackFileName(S(text)); });
  connect(btnStart, &QPushButton::clicked, this, [this] { btnStartClick(); });
  connect(btnBack, &QPushButton::clicked, this, [this] { btnBackClick(); });
}

// ---- Event handlers -----------------------------------------------------------

void TfrmMain::SpeedButton1Click() {
  SetSourceDir(AskDirectory(this));
}

void TfrmMain::SpeedButton3Click() {
  SetNewBackupDir(AskDirectory(this));
}

void TfrmMain::stRoPathClick() {
  SetRestoreDir(AskDirectory(this));
}

void TfrmMain::SpeedButton2Click() {
  if (OpenDialog1->exec() != QDialog::Accepted) return;
  const QStringList chosen = OpenDialog1->selectedFiles();
  if (chosen.isEmpty()) return;
  // The dialog speaks host paths; the program speaks Windows paths.
  SetTargetFile(platform::ToWindowsPath(S(chosen.front())));
}

void TfrmMain::SpeedButton4Click() {
  SetSizeLimit(AskSizeLimit(this, State().FSizeLimitMB));
}

void TfrmMain::CheckBox1Click() {
  core_->SetCompress(CheckBox1->isChecked());
}

void TfrmMain::chkBackNewFileClick() {
  core_->SetBackNewFile(chkBackNewFile->isChecked());
}

void TfrmMain::edtBackFileNameExit() {
  if (edtBackFileName->text().isEmpty()) edtBackFileName->setText(Q(texts::kEmptyBackFileName));
}

void TfrmMain::btnStartClick() {
  core_->ExecuteRun(app::RunKind::Backup);
}

void TfrmMain::btnBackClick() {
  core_->ExecuteRun(app::RunKind::Restore);
}

// ---- Keyboard -------------------------------------------------------------------

bool TfrmMain::FormKeyDown(const QKeyEvent& key) {
  const Qt::KeyboardModifiers held = key.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                        Qt::AltModifier | Qt::MetaModifier);
  // The hidden sequence: Alt and a letter on the help page.
  if (PageControl1->currentIndex() == kHelpPage && held == Qt::AltModifier &&
      key.key() >= Qt::Key_A && key.key() <= Qt::Key_Z) {
    keyBuffer_ += static_cast<char>('A' + (key.key() - Qt::Key_A));
    if (keyBuffer_.find(kGreetingSequence) != std::string::npos) {
      keyBuffer_.clear();
      app::ShowGreeting();
    }
    return true;
  }
  // Page cycling: Ctrl+Tab (Shift may be held: Qt then reports Backtab).
  if ((held & Qt::ControlModifier) && (key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab)) {
    const int page = PageControl1->currentIndex();
    PageControl1->setCurrentIndex(page == kHelpPage ? 0 : page + 1);
    return true;
  }
  return false;
}

bool TfrmMain::IsMine(QObject* object) const {
  auto* widget = qobject_cast<QWidget*>(object);
  return widget != nullptr && (widget == this || isAncestorOf(widget));
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && IsMine(watched)) {
    if (FormKeyDown(*static_cast<QKeyEvent*>(event))) return true;
  } else if (event->type() == QEvent::FocusOut && watched == edtBackFileName) {
    // Leaving the edit, not the window losing activation or a popup opening.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      edtBackFileNameExit();
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- app::MainView --------------------------------------------------------------

void TfrmMain::ShowSourceDir(std::string_view text) {
  labBPath->setText(Q(text));
}

void TfrmMain::ShowSizeLimit(std::string_view text) {
  stDBSize->setText(Q(text));
}

void TfrmMain::ShowTargetFile(std::string_view text) {
  stDBFile->setText(Q(text));
  stDBFile1->setText(Q(text));
}

void TfrmMain::ShowNewBackupDir(std::string_view text) {
  stTemppath->setText(Q(text));
}

void TfrmMain::ShowRestoreDir(std::string_view text) {
  stBackPath->setText(Q(text));
}

void TfrmMain::EnableStart(bool enabled) {
  btnStart->setEnabled(enabled);
}

void TfrmMain::EnableRestore(bool enabled) {
  btnBack->setEnabled(enabled);
}

void TfrmMain::EnableBackNewFile(bool enabled) {
  chkBackNewFile->setEnabled(enabled);
}

void TfrmMain::SetControlsEnabled(bool enabled) {
  for (QWidget* control :
       std::initializer_list<QWidget*>{CheckBox1, SpeedButton1, SpeedButton2, SpeedButton3,
                                       SpeedButton4, SpeedButton5, stRoPath, edtBackFileName}) {
    control->setEnabled(enabled);
  }
}

void TfrmMain::ShowBackupStatus(std::string_view text) {
  stStat->setText(Q(text));
}

void TfrmMain::SetBackupStatusHeight(int pixels) {
  stStat->setFixedHeight(pixels);
}

void TfrmMain::ShowRestoreStatus(std::string_view text) {
  stStatR->setText(Q(text));
}

void TfrmMain::ShowShortStatus(std::string_view text) {
  stStat2->setText(Q(text));
}

void TfrmMain::SetProgressMaximum(int maximum) {
  ProgressBar1->setMaximum(maximum);
}

void TfrmMain::SetProgressPosition(int position) {
  ProgressBar1->setValue(position);
}

}  // namespace app::ui
