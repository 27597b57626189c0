// The directory dialog; see frm_dir.h.
#include "app/ui/frm_dir.h"

#include <QApplication>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "app/core/texts.h"
#include "app/ui/qt_text.h"
#include "platform/file_ops.h"
#include "platform/find.h"
#include "platform/paths.h"

namespace app::ui {

namespace {

constexpr int kClientWidth = 214;   // pixels
constexpr int kClientHeight = 256;  // pixels
constexpr int kPathRole = Qt::UserRole;
constexpr char kBackslash = '\\';
constexpr int kIndentBlanks = 2;  // per level of the chain

// "D:\" for a path that starts with a drive letter, else the path up to its
// first backslash after a UNC share ("\\srv\pub\"), else empty.
std::string RootOf(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2) + kBackslash;
  if (path.rfind("\\\\", 0) == 0) {
    const auto server = path.find(kBackslash, 2);
    if (server == std::string::npos) return path + kBackslash;
    const auto share = path.find(kBackslash, server + 1);
    return share == std::string::npos ? path + kBackslash : path.substr(0, share + 1);
  }
  return {};
}

std::string Join(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == kBackslash) return dir + name;
  return dir + kBackslash + name;
}

// The directories from the root down to `path`, outermost first.
std::vector<std::string> ChainOf(const std::string& path) {
  std::vector<std::string> chain;
  const std::string root = RootOf(path);
  chain.push_back(root);
  std::string current = root;
  std::size_t start = root.size();
  while (start < path.size()) {
    std::size_t end = path.find(kBackslash, start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      current = Join(current, path.substr(start, end - start));
      chain.push_back(current);
    }
    start = end + 1;
  }
  return chain;
}

// The visible subdirectories of `dir`, sorted ignoring case.
std::vector<std::string> SubdirectoriesOf(const std::string& dir) {
  std::vector<std::string> names;
  platform::DirectorySearch search;
  platform::FindData entry;
  if (search.First(Join(dir, "*"), platform::kAttrDirectory, entry)) {
    do {
      const bool isDirectory = (entry.attributes & platform::kAttrDirectory) != 0;
      if (isDirectory && entry.name != "." && entry.name != "..") names.push_back(entry.name);
    } while (search.Next(entry));
  }
  search.Close();
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return Q(a).compare(Q(b), Qt::CaseInsensitive) < 0;
  });
  return names;
}

QString Indented(const std::string& name, int level) {
  return QString(level * kIndentBlanks, QLatin1Char(' ')) + Q(name);
}

}  // namespace

TfrmDir::TfrmDir(QWidget* parent) : QDialog(parent) {
  setWindowTitle(Q(texts::kDirDialogCaption));
  resize(kClientWidth, kClientHeight);

  Label1 = new QLabel(this);
  Label1->setWordWrap(true);
  DriveComboBox1 = new QComboBox(this);
  for (char letter : platform::MappedDrives()) {
    DriveComboBox1->addItem(QString(QLatin1Char(letter)) + QLatin1Char(':'), QChar(letter));
  }
  DirectoryListBox1 = new QListWidget(this);
  Button1 = new QPushButton(Q(texts::kDirDialogOk), this);

  auto* column = new QVBoxLayout(this);
  column->addWidget(Label1);
  column->addWidget(DirectoryListBox1, 1);
  column->addWidget(DriveComboBox1);
  column->addWidget(Button1, 0, Qt::AlignRight);

  connect(DirectoryListBox1, &QListWidget::currentItemChanged, this,
          [this](QListWidgetItem* item, QListWidgetItem*) {
            if (item != nullptr) SelectDirectory(S(item->data(kPathRole).toString()));
          });
  connect(DirectoryListBox1, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    // Opening rebuilds the list, so leave the item's own signal first.
    const std::string path = S(item->data(kPathRole).toString());
    QMetaObject::invokeMethod(
        this, [this, path] { OpenDirectory(path); }, Qt::QueuedConnection);
  });
  connect(DriveComboBox1, &QComboBox::activated, this, [this](int index) { DriveChanged(index); });
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

  OpenDirectory(platform::GetCurrentDirectory());
}

void TfrmDir::OpenDirectory(const std::string& windowsPath) {
  opened_ = windowsPath;
  const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);

  const QSignalBlocker block(DirectoryListBox1);
  DirectoryListBox1->clear();
  const std::vector<std::string> chain = ChainOf(windowsPath);
  QListWidgetItem* current = nullptr;
  int level = 0;
  for (const std::string& dir : chain) {
    const std::string label = level == 0 ? dir : dir.substr(dir.rfind(kBackslash) + 1);
    current = new QListWidgetItem(openIcon, Indented(label, level), DirectoryListBox1);
    current->setData(kPathRole, Q(dir));
    ++level;
  }
  for (const std::string& name : SubdirectoriesOf(chain.back())) {
    auto* item = new QListWidgetItem(closedIcon, Indented(name, level), DirectoryListBox1);
    item->setData(kPathRole, Q(Join(chain.back(), name)));
  }
  DirectoryListBox1->setCurrentItem(current);
  SelectDirectory(chain.back());

  const int drive = DriveComboBox1->findData(QChar(windowsPath.empty() ? ' ' : windowsPath[0]),
                                             Qt::UserRole, Qt::MatchFixedString);
  if (drive >= 0) {
    const QSignalBlocker blockDrive(DriveComboBox1);
    DriveComboBox1->setCurrentIndex(drive);
  }
}

void TfrmDir::SelectDirectory(const std::string& windowsPath) {
  selected_ = windowsPath;
  Label1->setText(Q(windowsPath));
}

void TfrmDir::DriveChanged(int index) {
  const QChar letter = DriveComboBox1->itemData(index).toChar();
  OpenDirectory(std::string(1, static_cast<char>(letter.toLatin1())) + ":\\");
}

std::string AskDirectory(QWidget* parent) {
  TfrmDir dialog(parent);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.Directory();
}

}  // namespace app::ui
