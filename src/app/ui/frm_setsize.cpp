// The size-limit dialog; see frm_setsize.h.
#include "app/ui/frm_setsize.h"

#include <QHBoxLayout>
#include <QKeyEvent>

#include "app/core/size_limit.h"
#include "app/core/texts.h"
#include "app/ui/qt_text.h"

namespace app::ui {

namespace {

constexpr int kClientWidth = 287;  // pixels
constexpr int kClientHeight = 65;  // pixels
constexpr int kEditWidth = 70;     // pixels

// The character a key press types, as the edit's key filter sees it; '\0' for
// keys that type nothing (arrows, Delete, modifiers), which are not filtered.
char TypedCharacter(const QKeyEvent& key) {
  switch (key.key()) {
    case Qt::Key_Backspace:
      return kKeyBackspace;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return kKeyEnter;
    case Qt::Key_Escape:
      return kKeyEscape;
    default:
      break;
  }
  const QString text = key.text();
  if (text.isEmpty()) return '\0';
  const char16_t first = text.front().unicode();
  // Anything beyond ASCII is outside every set; 0x7F (DEL) stands for it.
  return first < 0x80 ? static_cast<char>(first) : '\x7F';
}

}  // namespace

TfrmSetsize::TfrmSetsize(QWidget* parent) : QDialog(parent) {
  setWindowTitle(Q(texts::kSizeDialogCaption));
  setFixedSize(kClientWidth, kClientHeight);

  cmbDataBasesSize = new QComboBox(this);
  cmbDataBasesSize->setEditable(true);
  cmbDataBasesSize->setInsertPolicy(QComboBox::NoInsert);
  for (auto item : {texts::kSizePresetNone, texts::kSizePreset640, texts::kSizePreset700,
                    texts::kSizePresetCustom}) {
    cmbDataBasesSize->addItem(Q(item));
  }
  cmbDataBasesSize->setCurrentIndex(-1);
  cmbDataBasesSize->clearEditText();

  edtSetDBSize = new QLineEdit(this);
  edtSetDBSize->setFixedWidth(kEditWidth);
  edtSetDBSize->installEventFilter(this);

  Button1 = new QPushButton(Q(texts::kSizeDialogOk), this);
  Button1->setDefault(true);

  auto* row = new QHBoxLayout(this);
  row->addWidget(cmbDataBasesSize, 1);
  row->addWidget(edtSetDBSize);
  row->addWidget(Button1);

  connect(cmbDataBasesSize, &QComboBox::editTextChanged, this,
          [this](const QString& text) { cmbDataBasesSizeChange(text); });
  connect(edtSetDBSize, &QLineEdit::textEdited, this,
          [this](const QString& text) { edtSetDBSizeChange(text); });
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmSetsize::cmbDataBasesSizeChange(const QString& text) {
  edtSetDBSize->setEnabled(false);
  const std::string chosen = S(text);
  if (const auto preset = PresetSize(chosen)) FSize = *preset;
  if (chosen == texts::kSizePresetCustom) {
    edtSetDBSize->setEnabled(true);
  } else {
    edtSetDBSize->clear();  // not a user edit: FSize stays as just set
  }
}

void TfrmSetsize::edtSetDBSizeChange(const QString& text) {
  FSize = SizeFromText(S(text));
}

bool TfrmSetsize::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edtSetDBSize && event->type() == QEvent::KeyPress) {
    char key = TypedCharacter(*static_cast<QKeyEvent*>(event));
    if (key != '\0' && !KeyInSet(kSizeKeySet, key)) return true;  // swallowed
  }
  return QDialog::eventFilter(watched, event);
}

std::int32_t AskSizeLimit(QWidget* parent, std::int32_t current) {
  TfrmSetsize dialog(parent);
  dialog.FSize = current;
  dialog.exec();
  return dialog.FSize;
}

}  // namespace app::ui
