#include "CSettingPages.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "AccountInfo.h"
#include "AppState.h"
#include "CSyncSelectionDlg.h"
#include "FolderMove.h"
#include "LoginErrors.h"
#include "Strings.h"
#include "TextFormat.h"

namespace varnelo::desktop {

namespace {

bool askYesNo(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text) {
  QMessageBox box(icon, title, text, QMessageBox::Yes | QMessageBox::No, parent);
  box.button(QMessageBox::Yes)->setText(str(14134));
  box.button(QMessageBox::No)->setText(str(14135));
  return box.exec() == QMessageBox::Yes;
}

void tell(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text) {
  QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
  box.button(QMessageBox::Ok)->setText(str(14134));
  box.exec();
}

}  // namespace

// ---------------------------------------------------------------- General

CGeneralPropPage::CGeneralPropPage(IAppBackend& backend, QWidget* parent)
    : QWidget(parent),
      autostart(new QCheckBox(str(14101), this)),
      balloons(new QCheckBox(str(14102), this)),
      https(new QCheckBox(str(14103), this)),
      backend_(backend) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(autostart);
  layout->addWidget(balloons);
  layout->addWidget(https);
  auto* note = new QLabel(str(14104), this);
  note->setWordWrap(true);
  note->setContentsMargins(22, 0, 0, 0);
  layout->addWidget(note);
  layout->addStretch();
  autostart0_ = backend_.readAutostart();
  balloons0_ = backend_.showTrayBalloon();
  https0_ = backend_.useHttps();
  autostart->setChecked(autostart0_);
  balloons->setChecked(balloons0_);
  https->setChecked(https0_);
}

void CGeneralPropPage::apply() {
  if (autostart->isChecked() != autostart0_) {
    if (backend_.setAutostart(autostart->isChecked())) autostart0_ = autostart->isChecked();
  }
  bool reload = false;
  if (balloons->isChecked() != balloons0_) {
    backend_.setShowTrayBalloon(balloons->isChecked());
    balloons0_ = balloons->isChecked();
    reload = true;
  }
  if (https->isChecked() != https0_) {
    backend_.setUseHttps(https->isChecked());
    https0_ = https->isChecked();
    reload = true;
  }
  if (reload) backend_.reloadBalloonSetting();
}

// ---------------------------------------------------------------- Account

CAccountPropPage::CAccountPropPage(IAppBackend& backend, QWidget* parent)
    : QWidget(parent), unlink(new QPushButton(str(14107), this)), backend_(backend) {
  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox(str(14105), this);
  auto* form = new QFormLayout(group);
  AccountInfo info;
  parseAccountInfo(backend_.accountInfo(), info);
  auto value = [&info](const char* key) {
    const auto it = info.find(key);
    return it == info.end() ? QString() : QString::fromStdString(it->second);
  };
  const QString type = value("type");
  int label1 = 221, label2 = 172;
  QString v1 = value("username"), v2 = value("email");
  if (type == QLatin1String("google")) {
    label2 = 174;
  } else if (type == QLatin1String("kuv")) {
    label1 = 220;
    label2 = 173;
    v1 = value("nickname");
    v2 = value("username");
  }
  const QString texts[3] = {str(label1), str(label2), str(14106)};
  const QString vals[3] = {v1, v2, QString::fromStdString(backend_.deviceName())};
  for (int i = 0; i < 3; ++i) {
    labels[i] = new QLabel(texts[i], group);
    values[i] = new QLabel(vals[i], group);
    values[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(labels[i], values[i]);
  }
  layout->addWidget(group);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(unlink);
  layout->addLayout(row);
  layout->addStretch();
  connect(unlink, &QPushButton::clicked, this, [this] {
    if (backend_.unlinkDevice()) unlink->setEnabled(false);
    emit closeSheet();
  });
}

// ---------------------------------------------------------------- Proxy

CProxyPropPage::CProxyPropPage(IAppBackend& backend, SettingsStore& settings, QWidget* parent)
    : QWidget(parent),
      none(new QRadioButton(str(14108), this)),
      system(new QRadioButton(str(14109), this)),
      manual(new QRadioButton(str(14110), this)),
      type(new QComboBox(this)),
      address(new QLineEdit(this)),
      port(new QSpinBox(this)),
      auth(new QCheckBox(str(14111), this)),
      user(new QLineEdit(this)),
      password(new QLineEdit(this)),
      backend_(backend),
      settings_(settings),
      loaded_(settings.proxy()) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(none);
  layout->addWidget(system);
  layout->addWidget(manual);
  auto* group = new QGroupBox(str(14137), this);
  auto* form = new QFormLayout(group);
  type->addItems({QStringLiteral("HTTP"), QStringLiteral("SOCKS4"), QStringLiteral("SOCKS5")});
  form->addRow(str(14112), type);
  form->addRow(str(14113), address);
  port->setRange(0, 65535);
  form->addRow(str(14114), port);
  form->addRow(auth);
  form->addRow(str(14115), user);
  password->setEchoMode(QLineEdit::Password);
  form->addRow(str(14116), password);
  layout->addWidget(group);
  layout->addStretch();

  (loaded_.settingType == 1 ? system : loaded_.settingType == 2 ? manual : none)->setChecked(true);
  int index = 0;
  for (int i = 0; i < type->count(); ++i)
    if (type->itemText(i).compare(QString::fromStdString(loaded_.proxyType), Qt::CaseInsensitive) ==
        0)
      index = i;
  type->setCurrentIndex(index);
  address->setText(loaded_.address.empty() ? QStringLiteral("0.0.0.0")
                                           : QString::fromStdString(loaded_.address));
  port->setValue(loaded_.port);
  auth->setChecked(loaded_.auth);
  user->setText(QString::fromStdString(loaded_.user));
  password->setText(QString::fromStdString(loaded_.password));
  for (QAbstractButton* b :
       {static_cast<QAbstractButton*>(none), static_cast<QAbstractButton*>(system),
        static_cast<QAbstractButton*>(manual), static_cast<QAbstractButton*>(auth)})
    connect(b, &QAbstractButton::toggled, this, &CProxyPropPage::updateEnabled);
  updateEnabled();
  // What the page shows now is what "unchanged" means.
  loaded_ = current();
}

void CProxyPropPage::updateEnabled() {
  const bool m = manual->isChecked();
  for (QWidget* w : {static_cast<QWidget*>(type), static_cast<QWidget*>(address),
                     static_cast<QWidget*>(port), static_cast<QWidget*>(auth)})
    w->setEnabled(m);
  user->setEnabled(m && auth->isChecked());
  password->setEnabled(m && auth->isChecked());
}

ProxySettings CProxyPropPage::current() const {
  ProxySettings p;
  p.typeStored = true;
  p.settingType = system->isChecked() ? 1 : manual->isChecked() ? 2 : 0;
  p.proxyType = type->currentText().toStdString();
  const QString a = address->text().trimmed();
  p.address = a == QLatin1String("0.0.0.0") ? std::string() : a.toStdString();
  p.port = port->value();
  p.auth = auth->isChecked();
  p.user = user->text().toStdString();
  p.password = password->text().toStdString();
  return p;
}

bool CProxyPropPage::valid() const {
  // A manual proxy needs somewhere to go: an empty address (or the
  // placeholder 0.0.0.0) would send every request nowhere.
  return !(manual->isChecked() && current().address.empty());
}

void CProxyPropPage::apply() {
  if (!valid()) return;
  const ProxySettings p = current();
  const bool changed = p.settingType != loaded_.settingType || p.proxyType != loaded_.proxyType ||
                       p.address != loaded_.address || p.port != loaded_.port ||
                       p.auth != loaded_.auth || p.user != loaded_.user ||
                       p.password != loaded_.password;
  if (!changed) return;
  settings_.setProxy(p);
  loaded_ = p;
  backend_.pushNetworkSettings();
}

// ---------------------------------------------------------------- Bandwidth

CBandWidthPropPage::CBandWidthPropPage(IAppBackend& backend, SettingsStore& settings,
                                       QWidget* parent)
    : QWidget(parent),
      upUnlimited(new QRadioButton(str(14117))),
      upLimited(new QRadioButton(str(14118))),
      upSpeed(new QLineEdit),
      downUnlimited(new QRadioButton(str(14119))),
      downLimited(new QRadioButton(str(14120))),
      downSpeed(new QLineEdit),
      downGroup(new QGroupBox(str(14123), this)),
      backend_(backend),
      settings_(settings),
      loaded_(settings.speed()) {
  auto* layout = new QVBoxLayout(this);
  auto group = [this](QGroupBox* box, QRadioButton* off, QRadioButton* on, QLineEdit* field) {
    auto* g = new QVBoxLayout(box);
    g->addWidget(off);
    auto* row = new QHBoxLayout;
    row->addWidget(on);
    field->setValidator(new QIntValidator(0, 1000000, field));
    field->setMaximumWidth(90);
    row->addWidget(field);
    row->addWidget(new QLabel(str(14121), box));
    row->addStretch();
    g->addLayout(row);
    auto* buttons = new QButtonGroup(box);
    buttons->addButton(off);
    buttons->addButton(on);
    connect(on, &QRadioButton::toggled, field, &QWidget::setEnabled);
    (void)this;
  };
  auto* upGroup = new QGroupBox(str(14122), this);
  group(upGroup, upUnlimited, upLimited, upSpeed);
  group(downGroup, downUnlimited, downLimited, downSpeed);
  layout->addWidget(upGroup);
  layout->addWidget(downGroup);
  layout->addStretch();
  (loaded_.limitUpload ? upLimited : upUnlimited)->setChecked(true);
  (loaded_.limitDownload ? downLimited : downUnlimited)->setChecked(true);
  upSpeed->setEnabled(loaded_.limitUpload);
  downSpeed->setEnabled(loaded_.limitDownload);
  upSpeed->setText(QString::number(loaded_.uploadKBps));
  downSpeed->setText(QString::number(loaded_.downloadKBps));
  // Upload only: nothing is downloaded, so there is nothing to limit.
  downGroup->setVisible(backend_.syncMode() != 1);
}

void CBandWidthPropPage::apply() {
  for (QLineEdit* field : {upSpeed, downSpeed}) {
    bool ok = false;
    const long value = field->text().toLong(&ok);
    if (!ok || value <= 0) field->setText(QStringLiteral("200"));
  }
  SpeedSettings s;
  s.limitUpload = upLimited->isChecked();
  s.limitDownload = downLimited->isChecked();
  s.uploadKBps = upSpeed->text().toUInt();
  s.downloadKBps = downSpeed->text().toUInt();
  if (s.limitUpload == loaded_.limitUpload && s.limitDownload == loaded_.limitDownload &&
      s.uploadKBps == loaded_.uploadKBps && s.downloadKBps == loaded_.downloadKBps)
    return;
  settings_.setSpeed(s);
  loaded_ = s;
  backend_.pushNetworkSettings();
}

// ---------------------------------------------------------------- Advanced

CAdvancedPropPage::CAdvancedPropPage(IAppBackend& backend, QWidget* parent)
    : QWidget(parent),
      folder(new QLineEdit(this)),
      change(new QPushButton(str(14125), this)),
      select(new QPushButton(str(14126), this)),
      twoWay(new QRadioButton(str(14127), this)),
      uploadOnly(new QRadioButton(str(14128), this)),
      backend_(backend),
      mode0_(backend.syncMode() == 1 ? 1 : 3) {
  auto* layout = new QVBoxLayout(this);
  auto* where = new QGroupBox(str(14124), this);
  auto* row = new QHBoxLayout(where);
  folder->setReadOnly(true);
  folder->setText(backend_.syncFolder());
  row->addWidget(folder, 1);
  row->addWidget(change);
  layout->addWidget(where);
  auto* selective = new QGroupBox(str(14129), this);
  auto* selRow = new QHBoxLayout(selective);
  auto* selText = new QLabel(str(14130), selective);
  selText->setWordWrap(true);
  selRow->addWidget(selText, 1);
  selRow->addWidget(select);
  layout->addWidget(selective);
  auto* mode = new QGroupBox(str(14132), this);
  auto* modeLayout = new QVBoxLayout(mode);
  modeLayout->addWidget(twoWay);
  modeLayout->addWidget(uploadOnly);
  layout->addWidget(mode);
  layout->addStretch();
  (mode0_ == 1 ? uploadOnly : twoWay)->setChecked(true);
  const int state = backend_.appState();
  select->setEnabled(state == kAppIdle || state == kAppPaused || isSyncingState(state));
  connect(change, &QPushButton::clicked, this, &CAdvancedPropPage::moveFolder);
  connect(select, &QPushButton::clicked, this, &CAdvancedPropPage::chooseFolders);
}

void CAdvancedPropPage::apply() {
  const int mode = uploadOnly->isChecked() ? 1 : 3;
  if (mode == mode0_) return;
  backend_.stopSync();
  backend_.setSyncMode(mode);
  backend_.startSync(false);
  mode0_ = mode;
}

void CAdvancedPropPage::chooseFolders() {
  if (!backend_.hasCredentials()) return;
  CSyncSelectionDlg dlg(
      [this](const QString& path, QStringList* names) { return backend_.listFolders(path, names); },
      backend_.excludedFolders(), this);
  if (dlg.exec() != QDialog::Accepted) return;
  const QStringList excluded = dlg.excluded();
  emit busy(true);
  backend_.stopSync();
  backend_.setExcludedFolders(excluded);
  QStringList local;
  const QString root = backend_.syncFolder();
  for (const QString& remote : excluded) {
    // "home/Photos" -> <sync folder>/Photos
    local << root + remote.mid(remote.indexOf(QLatin1Char('/')));
  }
  backend_.removeStatePaths(local);
  backend_.startSync(false);
  emit busy(false);
}

void CAdvancedPropPage::moveFolder() {
  const QString current = backend_.syncFolder();
  for (;;) {
    QFileDialog chooser(this, str(197), current.isEmpty() ? QDir::homePath() : current);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    chooser.setLabelText(QFileDialog::Accept, str(198));
    chooser.setLabelText(QFileDialog::LookIn, str(199));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
    const QString chosen = QDir::cleanPath(chooser.selectedFiles().first());
    if (current.isEmpty()) {
      // No sync folder yet: nothing to move, the chosen one becomes it.
      const FolderCheck check = validateSyncFolder(chosen);
      if (!check.ok) {
        tell(this, QMessageBox::Warning, str(193), check.message);
        continue;
      }
      backend_.stopSync();
      if (backend_.setSyncFolder(check.path) == 200)
        folder->setText(check.path);
      else
        tell(this, QMessageBox::Warning, str(192), str(191));
      backend_.startSync(false);
      return;
    }
    if (const QString why = syncFolderRefusal(chosen); !why.isEmpty()) {
      tell(this, QMessageBox::Warning, str(193), why);
      continue;
    }
    const MoveTarget target = classifyMoveTarget(current, chosen);
    if (target == MoveTarget::Same) return;
    if (target == MoveTarget::Nested) {
      tell(this, QMessageBox::Warning, str(193), str(194));
      continue;
    }
    const bool wasEmpty = target == MoveTarget::Empty;
    if (!(wasEmpty
              ? askYesNo(this, QMessageBox::Information, str(197), formatText(str(200), {chosen}))
              : askYesNo(this, QMessageBox::Question, str(195), formatText(str(196), {chosen}))))
      continue;
    backend_.stopSync();
    emit busy(true);
    QProgressDialog progress(str(14133), str(14135), 0, 100, this);
    progress.setWindowTitle(str(197));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    const bool targetExisted = QFileInfo(chosen).isDir();
    FolderMoveResult moved = moveFolderContents(current, chosen, [&progress](int done, int total) {
      progress.setMaximum(total > 0 ? total : 1);
      progress.setValue(done);
      return !progress.wasCanceled();
    });
    progress.reset();
    if (moved.code == 0 && backend_.setSyncFolder(chosen) == 200) {
      backend_.renameStatePaths(current, chosen);
      if (!moved.renamed) {
        // A verified copy on another file system: the old files go now that
        // the new folder is the sync folder, and the engine is told it is
        // the same folder.
        removeCopiedSource(current, chosen);
        backend_.adoptMovedFolder();
      }
      folder->setText(chosen);
    } else {
      if (moved.renamed) {
        // The folder itself moved: it goes back to where the engine knows it.
        undoRename(current, chosen, targetExisted);
      } else if (wasEmpty) {
        // Only the copy goes: files that came into the folder meanwhile stay.
        removeMade(moved.made);
      }
      if (moved.code != kCopyCancelled) tell(this, QMessageBox::Warning, str(192), str(191));
    }
    emit busy(false);
    backend_.startSync(false);
    return;
  }
}

}  // namespace varnelo::desktop
