// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_edit_backup.h"

#include <QCloseEvent>
#include <QDate>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QTime>
#include <algorithm>

#include "core/app_context.h"
#include "core/host.h"
#include "engine/enumeration.h"
#include "engine/paths.h"
#include "foldertree/ctl_file_browser.h"
#include "ftp/ftp_connection.h"
#include "jobs/job_rules.h"
#include "jobs/jobs.h"
#include "jobs/store_format.h"
#include "platform/fs.h"
#include "platform/host_address.h"
#include "platform/text.h"
#include "runner/job_runner.h"
#include "ui/icons.h"
#include "ui/language.h"
#include "ui/layout_memory.h"
#include "ui_frm_edit_backup.h"

namespace kestrel::ui {

namespace {

const char* const kWindowSection = "frmEditBackup";
const char* const kListSection = "frmEditBackup-lvFiles";
const char* const kAllFiles = "*.*";
constexpr int kKindRole = Qt::UserRole;  // "FIL" or "DIR"
const char* const kPageAnchors[] = {"sources", "settings", "destination", "schedule"};

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string s(const QString& text) {
    return text.toStdString();
}

MaskKind maskKind(bool include) {
    return include ? MaskKind::Include : MaskKind::Exclude;
}

QDate toQDate(const DateTime& t) {
    return QDate(t.year(), t.month(), t.day());
}

QTime toQTime(const DateTime& t) {
    return QTime(t.hour(), t.minute());
}

DateTime fromQt(const QDate& date, const QTime& time) {
    return DateTime::fromParts(date.year(), date.month(), date.day(), time.hour(), time.minute())
        .value_or(DateTime());
}

// A time of day on the zero date, as schedules keep it.
DateTime timeOfDay(const QTime& time) {
    return DateTime().addSeconds(time.hour() * 3600 + time.minute() * 60);
}

// The weekday boxes from Sunday to Saturday and their bits.
constexpr std::uint8_t kDayBits[] = {kSunday,   kMonday, kTuesday, kWednesday,
                                     kThursday, kFriday, kSaturday};

}  // namespace

const std::vector<SplitChoice>& splitChoices() {
    static const std::vector<SplitChoice> choices = {
        {"1.44 MB (Floppy)", 144},        {"2.88 MB (Floppy)", 288},
        {"32 MB (Memory stick)", 3200},   {"64 MB (Memory stick)", 6400},
        {"128 MB (Memory stick)", 12800}, {"256 MB (Memory stick)", 25600},
        {"650 MB (CD-ROM)", 65000},       {"700 MB (CD-ROM)", 70000},
        {"800 MB  (CD-ROM)", 80000},      {"900 MB (CD-ROM)", 90000},
    };
    return choices;
}

std::int32_t splitBytes(std::int32_t number) {
    return static_cast<std::int32_t>((std::int64_t{1} << 20) * number / 100);
}

QStringList monthlyDayTexts(const Messages& messages) {
    // "%o" stands for the English suffix; other languages write their own ordinal around "%d".
    QStringList days;
    for (int day = 1; day <= 31; ++day) {
        // As the list has always read: 21st, 22nd, 23rd, but 31th.
        const char* suffix = "th";
        if (day == 1 || day == 21) {
            suffix = "st";
        } else if (day == 2 || day == 22) {
            suffix = "nd";
        } else if (day == 3 || day == 23) {
            suffix = "rd";
        }
        days << q(
            messages.format("strMsgDayOfMonth", {{"%d", std::to_string(day)}, {"%o", suffix}}));
    }
    days << q(messages.GetMessage("strMsgLastDayOfMonth"));
    return days;
}

frmEditBackup::frmEditBackup(AppContext& ctx, JobRunner& runner, const LanguageFile& language,
                             EditorSeams seams, QWidget* parent)
    : QDialog(parent),
      m_ctx(ctx),
      m_runner(runner),
      m_language(language),
      m_seams(std::move(seams)),
      m_ui(std::make_unique<Ui::frmEditBackup>()) {
    m_ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    // Control arrays: one name, the member's index beside it.
    const auto array = [](const char* name, std::initializer_list<QWidget*> members) {
        int index = 0;
        for (QWidget* member : members) {
            member->setObjectName(name);
            setControlIndex(*member, index++);
        }
    };
    array("optAT", {m_ui->optAT_0, m_ui->optAT_1, m_ui->optAT_2});
    array("Option2", {m_ui->Option2_0, m_ui->Option2_1});
    array("Option1", {m_ui->Option1_0, m_ui->Option1_1, m_ui->Option1_2, m_ui->Option1_3});
    array("chkdays", {m_ui->chkdays_0, m_ui->chkdays_1, m_ui->chkdays_2, m_ui->chkdays_3,
                      m_ui->chkdays_4, m_ui->chkdays_5, m_ui->chkdays_6});

    if (!m_seams.drives.isEmpty()) {
        m_ui->ctlFB->setDrives(m_seams.drives);
    }
    for (const SplitChoice& choice : splitChoices()) {
        m_ui->cmbsplit->addItem(QString::fromLatin1(choice.text), splitBytes(choice.number));
    }
    m_ui->cmbDays->addItems(monthlyDayTexts(ctx.messages));
    m_ui->lvFiles->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    m_ui->lvFiles->setColumnWidth(0, 300);

    // A new job's defaults.
    m_ui->optFull->setChecked(true);
    m_ui->optAT_1->setChecked(true);
    m_ui->Option2_0->setChecked(true);
    m_ui->Option1_1->setChecked(true);
    m_ui->chkPassiveMode->setChecked(true);
    const DateTime now = m_ctx.clock.now();
    m_ui->dtDay->setDate(toQDate(now));
    m_ui->dtHour->setTime(toQTime(now));
    m_ui->dtDailyHour->setTime(QTime(8, 0));
    m_ui->dtMonthlyHour->setTime(QTime(8, 0));
    m_ui->cmbIncludeMask->setCurrentText(kAllFiles);
    m_ui->cmbExcludeMask->setCurrentText("");

    ApplyLanguage(*this, language);
    m_ui->ctlFB->setRootText(q(msg("strMsgMyComputer")));
    m_ui->chkPassword->setToolTip(q(msg("strMsgEncryptionTip")));
    wire();
    RefreshMasks();
    restoreLayout();
    onArchiveType(archiveType());
    onDestinationKind();
    updateScheduleControls();
}

frmEditBackup::~frmEditBackup() = default;

ctlFileBrowser& frmEditBackup::folderTree() {
    return *m_ui->ctlFB;
}

std::string frmEditBackup::msg(const char* key) const {
    return m_ctx.msg(key);
}

void frmEditBackup::wire() {
    connect(m_ui->cmdAddFile, &QPushButton::clicked, this, &frmEditBackup::onAddFile);
    connect(m_ui->cmdAddFolder, &QPushButton::clicked, this, &frmEditBackup::onAddFolder);
    connect(m_ui->cmdDeleteFile, &QPushButton::clicked, this, &frmEditBackup::onRemove);
    connect(m_ui->cmdSaveBackup, &QPushButton::clicked, this, [this] { (void)saveJob(); });
    connect(m_ui->cmdModify, &QPushButton::clicked, this, [this] { (void)saveJob(); });
    connect(m_ui->cmdCancelBackup, &QPushButton::clicked, this, &frmEditBackup::onCancel);
    connect(m_ui->cmdHelp, &QPushButton::clicked, this, [this] {
        if (m_seams.openHelp) {
            const int page = std::clamp(m_ui->tabs->currentIndex(), 0, 3);
            m_seams.openHelp(std::string("edit.html#") + kPageAnchors[page]);
        }
    });
    // There is no hosting offer: the help tells where backups can be kept.
    connect(m_ui->cmdNeedWebHost, &QPushButton::clicked, this, [this] {
        if (m_seams.openHelp) {
            m_seams.openHelp("edit.html#destination");
        }
    });
    for (QRadioButton* type : {m_ui->optAT_0, m_ui->optAT_1, m_ui->optAT_2}) {
        connect(type, &QRadioButton::toggled, this, [this, type](bool on) {
            if (on) {
                onArchiveType(type->property(kIndexProperty).toInt());
            }
        });
    }
    for (QRadioButton* kind : {m_ui->Option2_0, m_ui->Option2_1}) {
        connect(kind, &QRadioButton::toggled, this, [this](bool on) {
            if (on) {
                onDestinationKind();
            }
        });
    }
    connect(m_ui->Command1, &QPushButton::clicked, this, &frmEditBackup::onBrowseLocal);
    connect(m_ui->ftpBrowse, &QPushButton::clicked, this, &frmEditBackup::onBrowseRemote);
    connect(m_ui->cmdTestFTP, &QPushButton::clicked, this, &frmEditBackup::onTestConnection);
    connect(m_ui->chkTls, &QCheckBox::toggled, this, &frmEditBackup::updateTlsState);
    connect(m_ui->txtIP, &QLineEdit::editingFinished, this, &frmEditBackup::updateTlsState);
    connect(m_ui->chkEnableSchedule, &QCheckBox::toggled, this,
            &frmEditBackup::updateScheduleControls);
    for (QRadioButton* method :
         {m_ui->Option1_0, m_ui->Option1_1, m_ui->Option1_2, m_ui->Option1_3}) {
        connect(method, &QRadioButton::toggled, this, &frmEditBackup::updateScheduleControls);
    }
    connect(m_ui->chkEveryDay, &QCheckBox::clicked, this, [this](bool on) {
        for (QCheckBox* day : m_ui->fraDaily->findChildren<QCheckBox*>("chkdays")) {
            day->setChecked(on);
        }
    });
    for (QCheckBox* day : m_ui->fraDaily->findChildren<QCheckBox*>("chkdays")) {
        connect(day, &QCheckBox::toggled, this, [this] {
            const auto days = m_ui->fraDaily->findChildren<QCheckBox*>("chkdays");
            m_ui->chkEveryDay->setChecked(
                std::all_of(days.begin(), days.end(), [](QCheckBox* d) { return d->isChecked(); }));
        });
    }
    connect(m_ui->chkPassword, &QCheckBox::toggled, this, [this](bool on) {
        m_ui->txtPass1->setEnabled(on);
        m_ui->txtPass2->setEnabled(on);
    });
    m_ui->txtPass1->setEnabled(false);
    m_ui->txtPass2->setEnabled(false);
    connect(m_ui->ctlFB, &ctlFileBrowser::itemCheckChanged, this, &frmEditBackup::onTreeCheck);
    // A mask is remembered when its box loses the focus.
    m_ui->cmbIncludeMask->lineEdit()->installEventFilter(this);
    m_ui->cmbExcludeMask->lineEdit()->installEventFilter(this);
}

bool frmEditBackup::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        if (watched == m_ui->cmbIncludeMask->lineEdit()) {
            rememberMask(true);
        } else if (watched == m_ui->cmbExcludeMask->lineEdit()) {
            rememberMask(false);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmEditBackup::RefreshMasks() {
    for (const bool include : {true, false}) {
        QComboBox* box = include ? m_ui->cmbIncludeMask : m_ui->cmbExcludeMask;
        const QString typed = box->currentText();
        const QSignalBlocker quiet(box);
        box->clear();
        for (const std::string& mask : kestrel::RefreshMasks(m_ctx.settings, maskKind(include))) {
            box->addItem(q(mask));
        }
        box->setCurrentText(typed);
    }
}

void frmEditBackup::rememberMask(bool include) {
    QComboBox* box = include ? m_ui->cmbIncludeMask : m_ui->cmbExcludeMask;
    if (RememberMask(m_ctx.settings, maskKind(include), s(box->currentText()))) {
        RefreshMasks();
    }
}

int frmEditBackup::archiveType() const {
    if (m_ui->optAT_0->isChecked()) {
        return 0;
    }
    return m_ui->optAT_2->isChecked() ? 2 : 1;
}

void frmEditBackup::onArchiveType(int index) {
    if (index == 0 && m_ui->Option2_1->isChecked()) {
        // Plain copies need a file system at the other end.
        QRadioButton* previous = m_lastArchiveType == 2 ? m_ui->optAT_2 : m_ui->optAT_1;
        {
            const QSignalBlocker quiet(m_ui->optAT_0);
            previous->setChecked(true);
        }
        tell(m_ctx.host, msg("strMsgCantUseThisOptWithFTP"), MsgIcon::Information);
        index = m_lastArchiveType;
    }
    m_lastArchiveType = index;
    const bool copies = index == 0;
    m_ui->chkCompress->setVisible(!copies);
    m_ui->Frame4->setVisible(!copies);
    m_ui->lblSplit->setVisible(index == 2);
    m_ui->cmbsplit->setVisible(index == 2);
}

void frmEditBackup::onDestinationKind() {
    const bool ftp = m_ui->Option2_1->isChecked();
    m_ui->ftpFrame->setEnabled(ftp);
    m_ui->txtDestPath->setEnabled(!ftp);
    m_ui->Command1->setEnabled(!ftp);
    updateDestinationState();
    updateTlsState();
}

void frmEditBackup::updateDestinationState() {
    // Told at once, not only when saving.
    std::string state;
    const std::string folder = s(m_ui->txtDestPath->text());
    if (!m_ui->Option2_1->isChecked() && !folder.empty()) {
        if (!fs::isDirectory(folder)) {
            state = msg("strMsgDestDirNotExists");
        } else if (!fs::isWritableDirectory(folder)) {
            state = m_ctx.messages.format("strMsgDestNotWritable", {{"%d", folder}});
        }
    }
    m_ui->lblDestState->setText(q(state));
    m_ui->lblDestState->setVisible(!state.empty());
}

void frmEditBackup::updateTlsState() {
    const bool tls = m_ui->chkTls->isChecked();
    m_ui->lblTlsPin->setEnabled(tls);
    m_ui->txtTlsPin->setEnabled(tls);
    const std::string host = s(m_ui->txtIP->text().trimmed());
    const bool clear =
        m_ui->Option2_1->isChecked() && !tls && !host.empty() && !net::hostIsLocal(host);
    m_ui->lblClearText->setText(
        clear ? q(m_ctx.messages.format("strMsgFtpClearText", {{"%s", host}})) : QString());
    m_ui->lblClearText->setVisible(clear);
}

void frmEditBackup::onBrowseLocal() {
    if (!m_seams.pickFolder) {
        return;
    }
    const std::string folder = m_seams.pickFolder(this, q(msg("strMsgSelectDestFolder")));
    if (!folder.empty()) {
        m_ui->txtDestPath->setText(q(folder));
        updateDestinationState();
    }
}

FtpFields frmEditBackup::ftpFields() const {
    FtpFields fields;
    fields.host = s(m_ui->txtIP->text().trimmed());
    fields.port = static_cast<std::int32_t>(text::leadingInt(s(m_ui->txtPort->text())));
    if (fields.port <= 0 || fields.port > 65535) {
        fields.port = 21;
    }
    fields.user = s(m_ui->txtUsername->text());
    fields.password = s(m_ui->txtPassword->text());
    fields.passive = m_ui->chkPassiveMode->isChecked();
    fields.tls = m_ui->chkTls->isChecked();
    // A pin that is no fingerprint trusts nothing; saving refuses it.
    fields.tlsPin =
        fields.tls ? normalizedFingerprint(s(m_ui->txtTlsPin->text())).value_or("") : "";
    return fields;
}

void frmEditBackup::onBrowseRemote() {
    if (!m_seams.browseRemote) {
        return;
    }
    setCursor(Qt::WaitCursor);
    const std::optional<std::string> chosen = m_seams.browseRemote(this, ftpFields());
    unsetCursor();
    if (chosen) {
        m_ui->txtdestpath2->setText(q(*chosen));
    }
}

void frmEditBackup::onTestConnection() {
    const FtpFields fields = ftpFields();
    setCursor(Qt::WaitCursor);
    m_ui->cmdTestFTP->setEnabled(false);
    std::unique_ptr<FtpClient> session =
        m_seams.ftpSession ? m_seams.ftpSession(m_ctx.control) : makeFtpClient(m_ctx.control);
    m_ctx.control.clearFailures();
    session->SetupConnection(fields.host, fields.port, fields.user, fields.password,
                             fields.passive);
    session->SetupTls(fields.tls, fields.tlsPin);
    std::string text;
    MsgIcon icon = MsgIcon::Information;
    std::string untrusted;
    if (session->EstablishConnection()) {
        text = m_ctx.messages.format(
            "strMsgFtpLoginOk",
            {{"%s", fields.host}, {"%d", fields.user}, {"%t", session->GetRootDir()}});
    } else {
        icon = MsgIcon::Critical;
        const std::string shown = session->serverFingerprint();
        if (fields.tls && !shown.empty() && shown != fields.tlsPin) {
            untrusted = shown;
            text = msg("strMsgCantConnectToFTP");
        } else if (session->connectionState() == FtpClient::State::Connected) {
            text = m_ctx.messages.format("strMsgFtpLoginRefused",
                                         {{"%s", fields.host}, {"%d", fields.user}});
        } else {
            text = msg("strMsgCantConnectToFTP");
        }
    }
    (void)session->Disconnect();
    session.reset();
    m_ui->cmdTestFTP->setEnabled(true);
    unsetCursor();
    // A certificate no authority vouches for (a home NAS's own) is trusted when the user says
    // so; the test then runs again with it pinned.
    if (!untrusted.empty() &&
        ask(m_ctx.host,
            m_ctx.messages.format("strMsgFtpTrustCertificate",
                                  {{"%s", fields.host}, {"%f", untrusted}}),
            MsgIcon::Question, MsgButtons::YesNo, MsgAnswer::No) == MsgAnswer::Yes) {
        m_ui->txtTlsPin->setText(q(untrusted));
        onTestConnection();
        return;
    }
    if (icon == MsgIcon::Critical) {
        tellFailure(m_ctx.host, text, m_ctx.control.failureDetails());
    } else {
        tell(m_ctx.host, text, icon);
    }
}

QTreeWidgetItem* frmEditBackup::rowOf(const std::string& path) const {
    const QString wanted = q(path);
    for (int i = 0; i < m_ui->lvFiles->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_ui->lvFiles->topLevelItem(i);
        if (item->text(0) == wanted) {
            return item;
        }
    }
    return nullptr;
}

void frmEditBackup::addRow(const std::string& path, bool folder) {
    auto* item = new QTreeWidgetItem(m_ui->lvFiles);  // owned by the list
    item->setText(0, q(path));
    item->setIcon(0, iconFor(folder ? "folder" : "file"));
    item->setData(0, kKindRole, folder ? "DIR" : "FIL");
    if (!folder) {
        item->setText(1, q(FormatSize(static_cast<std::int64_t>(QFileInfo(q(path)).size()),
                                      sizeWordsOf(m_ctx.messages))));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }
}

namespace {

// Folders are searched to the bottom, so a path below a listed folder would be stored twice.
bool below(const QString& inner, const QString& outer) {
    return inner.startsWith(outer.endsWith('/') ? outer : outer + '/') && inner != outer;
}

}  // namespace

bool frmEditBackup::admitSource(const std::string& path, bool folder) {
    const QString wanted = q(path);
    std::vector<QTreeWidgetItem*> inner;
    for (int i = 0; i < m_ui->lvFiles->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = m_ui->lvFiles->topLevelItem(i);
        const bool rowFolder = row->data(0, kKindRole).toString() == "DIR";
        if (rowFolder && below(wanted, row->text(0))) {
            tell(m_ctx.host,
                 m_ctx.messages.format("strMsgSourceCovered",
                                       {{"%s", path}, {"%d", s(row->text(0))}}),
                 MsgIcon::Information);
            return false;
        }
        if (folder && below(row->text(0), wanted)) {
            inner.push_back(row);
        }
    }
    if (inner.empty()) {
        return true;
    }
    m_syncing = true;
    for (QTreeWidgetItem* row : inner) {
        const bool rowFolder = row->data(0, kKindRole).toString() == "DIR";
        (void)m_ui->ctlFB->setChecked((rowFolder ? "d@" : "f@") + row->text(0), false);
        delete row;  // a list item is deleted to leave its list
    }
    m_syncing = false;
    tell(m_ctx.host,
         m_ctx.messages.format("strMsgSourcesCovered",
                               {{"%s", path}, {"%d", std::to_string(inner.size())}}),
         MsgIcon::Information);
    return true;
}

bool frmEditBackup::addSource(const std::string& path, bool folder) {
    if (rowOf(path) != nullptr) {
        tell(m_ctx.host, msg("strMsgFileAlreadyAdded"), MsgIcon::Information);
        return false;
    }
    if (!admitSource(path, folder)) {
        return false;
    }
    addRow(path, folder);
    // The tree shows the same selection.
    m_syncing = true;
    (void)m_ui->ctlFB->CheckDir(q(path));
    m_syncing = false;
    return true;
}

std::vector<std::string> frmEditBackup::sourcePaths() const {
    std::vector<std::string> paths;
    for (int i = 0; i < m_ui->lvFiles->topLevelItemCount(); ++i) {
        paths.push_back(s(m_ui->lvFiles->topLevelItem(i)->text(0)));
    }
    return paths;
}

void frmEditBackup::onTreeCheck(const FolderNode& node, bool checked) {
    if (m_syncing) {
        return;
    }
    if (!node.FullPath.startsWith('/')) {
        // The root stands for no path: a check there would back up nothing.
        if (checked) {
            m_syncing = true;
            (void)m_ui->ctlFB->setChecked(node.Key, false);
            m_syncing = false;
        }
        return;
    }
    const std::string path = s(node.FullPath);
    QTreeWidgetItem* row = rowOf(path);
    if (checked && row == nullptr) {
        const bool folder = node.Key.startsWith("d@");
        if (admitSource(path, folder)) {
            addRow(path, folder);
        } else {
            m_syncing = true;
            (void)m_ui->ctlFB->setChecked(node.Key, false);
            m_syncing = false;
        }
    } else if (!checked && row != nullptr) {
        delete row;  // a list item is deleted to leave its list
    }
}

void frmEditBackup::onAddFile() {
    if (!m_seams.pickFile) {
        return;
    }
    const std::string file = m_seams.pickFile(this);
    if (!file.empty()) {
        (void)addSource(file, false);
    }
}

void frmEditBackup::onAddFolder() {
    if (!m_seams.pickFolder) {
        return;
    }
    const std::string folder = m_seams.pickFolder(this, q(msg("strMsgSelectFolderToBackup")));
    if (folder.empty() || !addSource(folder, true)) {
        return;
    }
    QLineEdit& name = *m_ui->txtBackupName;
    if (name.isEnabled() &&
        (name.text().isEmpty() || name.text().toUpper().contains("NEW BACKUP"))) {
        name.setText(QFileInfo(q(folder)).fileName());
    }
}

void frmEditBackup::onRemove() {
    QTreeWidgetItem* row = m_ui->lvFiles->currentItem();
    if (row == nullptr || !row->isSelected()) {
        tell(m_ctx.host, msg("strMsgNoDirSelected"), MsgIcon::Information);
        return;
    }
    const bool folder = row->data(0, kKindRole).toString() == "DIR";
    const QString key = QString(folder ? "d@" : "f@") + row->text(0);
    delete row;
    m_syncing = true;
    (void)m_ui->ctlFB->setChecked(key, false);
    m_syncing = false;
}

void frmEditBackup::updateScheduleControls() {
    const bool on = m_ui->chkEnableSchedule->isChecked();
    m_ui->wSchedule->setEnabled(on);
    m_ui->fraHourly->setEnabled(m_ui->Option1_0->isChecked());
    m_ui->fraDaily->setEnabled(m_ui->Option1_1->isChecked());
    m_ui->fraMonthly->setEnabled(m_ui->Option1_2->isChecked());
}

void frmEditBackup::showPage(int page) {
    m_ui->tabs->setCurrentIndex(std::clamp(page, 0, m_ui->tabs->count() - 1));
}

void frmEditBackup::proposeNew(int number) {
    m_original.clear();
    m_ui->txtBackupName->setEnabled(true);
    m_ui->txtBackupName->setText("New backup " + QString::number(number));
    m_ui->txtBackupName->setFocus();
    m_ui->txtBackupName->selectAll();
    RefreshMasks();
    m_ui->cmbIncludeMask->setCurrentText(kAllFiles);
}

void frmEditBackup::loadJob(const clsBackup& job) {
    m_original = job.sName;
    m_ui->txtBackupName->setText(q(job.sName));
    m_ui->txtBackupName->setEnabled(false);
    m_ui->lvFiles->clear();
    for (const auto& file : job.Files) {
        if (rowOf(file->sPath) == nullptr) {
            addRow(file->sPath, file->bForD == kSourceFolder);
        }
    }
    m_ui->chkCompress->setChecked(job.bZipped);
    (job.bIncremental ? m_ui->OptIncr : m_ui->optFull)->setChecked(true);

    if (job.destFTP && job.objDestination) {
        m_ui->Option2_1->setChecked(true);
        m_ui->txtIP->setText(q(job.objDestination->hostname));
        m_ui->txtPort->setText(QString::number(job.objDestination->port));
        m_ui->txtUsername->setText(q(job.objDestination->username));
        m_ui->txtPassword->setText(q(job.objDestination->password));
        m_ui->chkPassiveMode->setChecked(job.objDestination->bPassiveMode);
        m_ui->chkTls->setChecked(job.objDestination->bTls);
        m_ui->txtTlsPin->setText(q(job.objDestination->sTlsPin));
        m_ui->txtdestpath2->setText(q(job.sDestinationDir));
    } else {
        m_ui->Option2_0->setChecked(true);
        m_ui->txtDestPath->setText(q(job.sDestinationDir));
    }

    const bool include = !job.IncludeMask.empty();
    m_ui->chkInclude->setChecked(include);
    m_ui->cmbIncludeMask->setCurrentText(include ? q(job.IncludeMask) : kAllFiles);
    m_ui->chkExclude->setChecked(!job.ExcludeMask.empty());
    m_ui->cmbExcludeMask->setCurrentText(q(job.ExcludeMask));

    m_customSplit.reset();
    if (job.splitSize < 1) {
        (job.archived ? m_ui->optAT_1 : m_ui->optAT_0)->setChecked(true);
    } else {
        m_ui->optAT_2->setChecked(true);
        int found = m_ui->cmbsplit->findData(job.splitSize);
        if (found < 0) {
            // A size set on the command line: kept as it is unless another is chosen.
            m_customSplit = job.splitSize;
            char text[48];
            std::snprintf(text, sizeof text, "%.2f MB", job.splitSize / 1048576.0);
            m_ui->cmbsplit->addItem(text, job.splitSize);
            found = m_ui->cmbsplit->count() - 1;
        }
        m_ui->cmbsplit->setCurrentIndex(found);
    }
    m_lastArchiveType = archiveType();
    onArchiveType(m_lastArchiveType);

    m_ui->chkPassword->setChecked(job.Protected);
    m_ui->txtPass1->setText(job.Protected ? q(job.password) : QString());
    m_ui->txtPass2->setText(job.Protected ? q(job.password) : QString());

    const clsSchedule* schedule = job.Schedule.get();
    m_ui->chkEnableSchedule->setChecked(schedule != nullptr && schedule->enabled);
    if (schedule != nullptr && schedule->Tip >= kScheduleHourly && schedule->Tip <= kScheduleOnce) {
        QRadioButton* methods[] = {m_ui->Option1_0, m_ui->Option1_1, m_ui->Option1_2,
                                   m_ui->Option1_3};
        methods[schedule->Tip - 1]->setChecked(true);
        m_ui->dtDay->setDate(toQDate(schedule->start));
        m_ui->dtHour->setTime(toQTime(schedule->start));
        switch (schedule->Tip) {
            case kScheduleHourly:
                m_ui->txtHourlyMin->setValue(std::min<int>(schedule->Data, 59));
                break;
            case kScheduleDaily: {
                const auto days = m_ui->fraDaily->findChildren<QCheckBox*>("chkdays");
                for (QCheckBox* day : days) {
                    const int index = day->property(kIndexProperty).toInt();
                    day->setChecked((schedule->Data & kDayBits[index]) != 0);
                }
                m_ui->dtDailyHour->setTime(toQTime(schedule->StartHour));
                break;
            }
            case kScheduleMonthly:
                m_ui->cmbDays->setCurrentIndex(
                    std::min<int>(schedule->Data, m_ui->cmbDays->count() - 1));
                m_ui->dtMonthlyHour->setTime(toQTime(schedule->StartHour));
                break;
            default:
                break;
        }
    }
    updateScheduleControls();
    onDestinationKind();

    // The tree shows the stored sources checked.
    m_syncing = true;
    for (const std::string& path : sourcePaths()) {
        (void)m_ui->ctlFB->CheckDir(q(path));
    }
    m_syncing = false;
    if (job.passwordUnreadable) {
        restrictToPassword();
    }
}

void frmEditBackup::restrictToPassword() {
    // Until it has a password the job's settings stay as stored: they are shown, not changed.
    m_passwordOnly = true;
    for (QWidget* part : {m_ui->tabBackup, m_ui->tabDestination, m_ui->tabSchedule,
                          static_cast<QWidget*>(m_ui->Frame1), static_cast<QWidget*>(m_ui->Frame2),
                          static_cast<QWidget*>(m_ui->Frame3)}) {
        part->setEnabled(false);
    }
    m_ui->Frame4->setVisible(true);
    m_ui->chkPassword->setChecked(true);
    m_ui->chkPassword->setEnabled(false);
    m_ui->txtPass1->clear();
    m_ui->txtPass2->clear();
    m_ui->txtPass1->setEnabled(true);
    m_ui->txtPass2->setEnabled(true);
    showPage(1);
    m_ui->txtPass1->setFocus();
}

bool frmEditBackup::saveNewPassword() {
    if (const JobProblem problem = passwordProblem()) {
        showProblem(problem);
        return false;
    }
    JobProblem problem;
    const RunnerResult r = m_runner.setNewPassword(m_original, s(m_ui->txtPass1->text()), &problem);
    return finishSave(r, m_original, problem);
}

void frmEditBackup::fail(const std::string& text, int page, QWidget* focus) {
    if (page >= 0) {
        showPage(page);
    }
    tell(m_ctx.host, text, MsgIcon::Critical);
    if (focus != nullptr) {
        focus->setFocus();
    }
}

void frmEditBackup::showProblem(const JobProblem& problem) {
    // The page of the part at fault, and the control that takes the focus (none: the page).
    int page = -1;
    QWidget* focus = nullptr;
    switch (problem.field) {
        case JobField::Name:
            page = 0;
            focus = m_ui->txtBackupName;
            break;
        case JobField::Sources:
            page = 0;
            break;
        case JobField::ArchiveType:
            page = 1;
            break;
        case JobField::Password:
            page = 1;
            focus = m_ui->txtPass1;
            break;
        case JobField::Destination:
            page = 2;
            break;
        case JobField::Schedule:
            page = 3;
            break;
        case JobField::None:
            break;
    }
    // The part shown tells what the message is about; its value is not repeated.
    fail(m_ctx.messages.format(problem.key, {{"%d", problem.detail}}), page, focus);
}

bool frmEditBackup::finishSave(RunnerResult result, const std::string& name,
                               const JobProblem& problem) {
    if (result == RunnerResult::Invalid && problem.field != JobField::None) {
        showProblem(problem);
        return false;
    }
    if (result != RunnerResult::Done) {
        fail(m_runner.refusalText(result, name, problem), -1);
        return false;
    }
    m_savedName = name;
    saveLayout();
    accept();
    return true;
}

JobProblem frmEditBackup::passwordProblem() const {
    if (m_ui->txtPass1->text() != m_ui->txtPass2->text()) {
        return {"strMsgPasswordsDiffer", "", JobField::Password};
    }
    if (m_ui->txtPass1->text().isEmpty()) {
        return {"strMsgPasswordMissing", "", JobField::Password};
    }
    return {};
}

JobProblem frmEditBackup::controlsProblem() const {
    // Asked for encryption, the user must get it: two different or no passwords are refused.
    if (m_ui->chkPassword->isChecked()) {
        if (JobProblem problem = passwordProblem()) {
            return problem;
        }
    }
    if (m_ui->Option2_1->isChecked() && m_ui->chkTls->isChecked() &&
        !m_ui->txtTlsPin->text().trimmed().isEmpty() &&
        !normalizedFingerprint(s(m_ui->txtTlsPin->text()))) {
        return {"strMsgBadTlsPin", "", JobField::Destination};
    }
    if (m_ui->chkEnableSchedule->isChecked() && m_ui->Option1_1->isChecked()) {
        const auto days = m_ui->fraDaily->findChildren<QCheckBox*>("chkdays");
        if (std::none_of(days.begin(), days.end(), [](QCheckBox* d) { return d->isChecked(); })) {
            return {"strMsgNoDaysChosen", "", JobField::Schedule};
        }
    }
    return {};
}

std::unique_ptr<clsBackup> frmEditBackup::jobFromControls() const {
    std::unique_ptr<clsBackup> job;
    if (!m_original.empty()) {
        // What the editor does not show (the last run's outcome) stays as stored.
        if (const auto stored = m_runner.job(m_original)) {
            job = stored->clone();
        }
    }
    if (!job) {
        job = std::make_unique<clsBackup>();
    }
    job->sName = cleanJobName(s(m_ui->txtBackupName->text()));
    job->bIncremental = m_ui->OptIncr->isChecked();
    job->bZipped = m_ui->chkCompress->isChecked();
    if (m_ui->Option2_1->isChecked()) {
        const FtpFields fields = ftpFields();
        auto record = std::make_shared<clsKestrel>();
        record->hostname = fields.host;
        record->port = fields.port;
        record->username = fields.user;
        record->password = fields.password;
        record->bPassiveMode = fields.passive;
        record->bTls = fields.tls;
        record->sTlsPin = fields.tlsPin;
        job->objDestination = std::move(record);
        job->destFTP = true;
        job->sDestinationDir = s(m_ui->txtdestpath2->text());
    } else {
        job->sDestinationDir = s(m_ui->txtDestPath->text());
        job->destFTP = false;
        job->objDestination.reset();
    }
    const int type = archiveType();
    job->archived = type != 0;
    job->splitSize = type == 2 ? m_ui->cmbsplit->currentData().toInt() : 0;

    job->ResetFiles();
    for (int i = 0; i < m_ui->lvFiles->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = m_ui->lvFiles->topLevelItem(i);
        auto entry = std::make_unique<clsBackupFile>();
        entry->sPath = s(row->text(0));
        entry->bForD = row->data(0, kKindRole).toString() == "DIR" ? kSourceFolder : kSourceFile;
        if (entry->bForD == kSourceFile) {
            entry->dSize = static_cast<std::int64_t>(QFileInfo(row->text(0)).size());
        }
        job->AddFile(std::move(entry));
    }
    job->IncludeMask = m_ui->chkInclude->isChecked() ? s(m_ui->cmbIncludeMask->currentText())
                                                     : std::string(kAllFiles);
    job->ExcludeMask =
        m_ui->chkExclude->isChecked() ? s(m_ui->cmbExcludeMask->currentText()) : std::string();

    // Plain copies are encrypted too; that their page hides the password does not drop it.
    const bool protect = m_ui->chkPassword->isChecked();
    job->Protected = protect;
    job->password = protect ? s(m_ui->txtPass1->text()) : std::string();

    if (m_ui->chkEnableSchedule->isChecked()) {
        auto schedule = std::make_shared<clsSchedule>();
        schedule->enabled = true;
        schedule->start = fromQt(m_ui->dtDay->date(), m_ui->dtHour->time());
        if (m_ui->Option1_0->isChecked()) {
            schedule->Tip = kScheduleHourly;
            schedule->Data = static_cast<std::uint8_t>(m_ui->txtHourlyMin->value());
        } else if (m_ui->Option1_1->isChecked()) {
            schedule->Tip = kScheduleDaily;
            for (QCheckBox* day : m_ui->fraDaily->findChildren<QCheckBox*>("chkdays")) {
                if (day->isChecked()) {
                    schedule->Data |= kDayBits[day->property(kIndexProperty).toInt()];
                }
            }
            schedule->StartHour = timeOfDay(m_ui->dtDailyHour->time());
        } else if (m_ui->Option1_2->isChecked()) {
            schedule->Tip = kScheduleMonthly;
            schedule->Data = static_cast<std::uint8_t>(m_ui->cmbDays->currentIndex());
            schedule->StartHour = timeOfDay(m_ui->dtMonthlyHour->time());
        } else {
            schedule->Tip = kScheduleOnce;
        }
        job->Schedule = std::move(schedule);
    } else {
        // Not scheduled: stored as no schedule, so that it stays off after a restart.
        job->Schedule.reset();
    }
    return job;
}

bool frmEditBackup::saveJob() {
    if (m_passwordOnly) {
        return saveNewPassword();
    }
    if (const JobProblem problem = controlsProblem()) {
        showProblem(problem);
        return false;
    }
    // The job's rules (a free name, sources, a destination) are the runner's to check.
    std::unique_ptr<clsBackup> job = jobFromControls();
    const std::string name = job->sName;
    JobProblem problem;
    const RunnerResult r = m_original.empty()
                               ? m_runner.addJob(std::move(job), &problem)
                               : m_runner.changeJob(m_original, std::move(job), &problem);
    return finishSave(r, name, problem);
}

void frmEditBackup::onCancel() {
    reject();
}

std::string frmEditBackup::controlsText() const {
    Jobs one;
    one.append(jobFromControls());
    return writeJobStore(one).serialize();
}

void frmEditBackup::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_baseline)
        m_baseline = controlsText();
}

void frmEditBackup::reject() {
    // Cancel, Escape and the title bar lose the changes only once the user agrees (a program
    // that is ending has nobody to ask).
    if (m_baseline && m_ctx.host.canAsk() && controlsText() != *m_baseline &&
        ask(m_ctx.host, msg("strMsgDiscardChanges"), MsgIcon::Question, MsgButtons::YesNo,
            MsgAnswer::No) != MsgAnswer::Yes) {
        return;
    }
    if (m_original.empty()) {
        // The proposal's number goes back, so that the next new job gets it again.
        const auto index = text::leadingInt(
            m_ctx.settings.GetSetting(kSettingsArea, kGeneralSettings, "bkpIndex", "1"));
        (void)m_ctx.settings.saveGeneral("bkpIndex",
                                         std::to_string(std::max<std::int64_t>(index - 1, 0)));
    }
    saveLayout();
    QDialog::reject();
}

void frmEditBackup::closeEvent(QCloseEvent* event) {
    saveLayout();
    QDialog::closeEvent(event);
}

void frmEditBackup::restoreLayout() {
    const auto setting = [this](const char* name) {
        return m_ctx.settings.GetSetting(kSettingsArea, kWindowSection, name);
    };
    const int width = static_cast<int>(text::leadingInt(setting("Width")));
    const int height = static_cast<int>(text::leadingInt(setting("Height")));
    if (width >= minimumWidth() && height >= minimumHeight()) {
        resize(width, height);
    }
    const std::string left = setting("Left");
    const std::string top = setting("Top");
    if (!left.empty() && !top.empty()) {
        move(static_cast<int>(text::leadingInt(left)), static_cast<int>(text::leadingInt(top)));
    }
    const std::string day = setting("DaysComboIndex");
    if (!day.empty()) {
        const int index = static_cast<int>(text::leadingInt(day));
        if (index >= 0 && index < m_ui->cmbDays->count()) {
            m_ui->cmbDays->setCurrentIndex(index);
        }
    }
    restoreColumnWidths(m_ctx.settings, kListSection, *m_ui->lvFiles->header());
}

void frmEditBackup::saveLayout() {
    if (m_layoutSaved) {
        return;
    }
    m_layoutSaved = true;
    const auto save = [this](const char* name, int value) {
        (void)m_ctx.settings.SaveSetting(kSettingsArea, kWindowSection, name,
                                         std::to_string(value));
    };
    save("Left", x());
    save("Top", y());
    save("Width", width());
    save("Height", height());
    save("daysComboIndex", m_ui->cmbDays->currentIndex());
    saveColumnWidths(m_ctx.settings, kListSection, *m_ui->lvFiles->header());
}

EditorSeams desktopEditorSeams(AppContext& ctx, const LanguageFile& language,
                               std::function<void(const std::string& page)> openHelp) {
    EditorSeams seams;
    seams.pickFolder = [](QWidget* parent, const QString& title) {
        return s(QFileDialog::getExistingDirectory(parent, title));
    };
    seams.pickFile = [](QWidget* parent) { return s(QFileDialog::getOpenFileName(parent)); };
    seams.openHelp = std::move(openHelp);
    seams.browseRemote = [&ctx, &language](QWidget* parent,
                                           const FtpFields& fields) -> std::optional<std::string> {
        frmBrowseFTP browser(ctx, language, parent);
        ctx.control.clearFailures();
        switch (browser.Start(fields)) {
            case frmBrowseFTP::StartResult::CantConnect:
                tellFailure(ctx.host, ctx.msg("strMsgCantConnectToFTP"),
                            ctx.control.failureDetails());
                return std::nullopt;
            case frmBrowseFTP::StartResult::CantList:
                tell(ctx.host, ctx.msg("strMsgCantGetDirList"), MsgIcon::Critical);
                return std::nullopt;
            case frmBrowseFTP::StartResult::Ok:
                break;
        }
        if (browser.exec() != QDialog::Accepted || browser.selectedPath().empty()) {
            return std::nullopt;
        }
        return browser.selectedPath();
    };
    return seams;
}

bool EditJob(QWidget* parent, AppContext& ctx, JobRunner& runner, const LanguageFile& language,
             const EditorSeams& seams, const std::string& name, int page,
             const std::function<bool(const std::string& expected)>& askPassword,
             std::string* saved) {
    const auto job = runner.job(name);
    if (!job) {
        return false;
    }
    if (job->passwordUnreadable) {
        // Locked: the one change it takes is a new password, and only once the user agrees.
        if (ask(ctx.host, ctx.messages.format("strMsgAskNewPassword", {{"%d", name}}),
                MsgIcon::Question, MsgButtons::YesNo, MsgAnswer::No) != MsgAnswer::Yes) {
            return false;
        }
        page = 1;
    } else if (job->Protected && !job->password.empty()) {
        ctx.WriteLog(ctx.messages.format("strMsgReqPasswdForEdit", {{"%d", name}}));
        if (!askPassword || !askPassword(job->password)) {
            const std::string wrong = ctx.messages.format("strMsgWrongPWDEdit", {{"%d", name}});
            ctx.WriteLog(wrong);
            tell(ctx.host, wrong, MsgIcon::Critical);
            return false;
        }
        ctx.WriteLog(ctx.messages.format("strMsgPWDOkEdit", {{"%d", name}}));
    }
    ctx.WriteLog(ctx.messages.format("strMsgModBackupParam", {{"%d", name}}));
    frmEditBackup editor(ctx, runner, language, seams, parent);
    editor.showPage(page);
    editor.loadJob(*job);
    editor.showPage(page);
    if (editor.exec() != QDialog::Accepted) {
        return false;
    }
    if (saved != nullptr) {
        *saved = editor.savedName();
    }
    return true;
}

bool NewJob(QWidget* parent, AppContext& ctx, JobRunner& runner, const LanguageFile& language,
            const EditorSeams& seams, int page, std::string* saved) {
    frmEditBackup editor(ctx, runner, language, seams, parent);
    editor.showPage(page);
    const std::int64_t number = text::leadingInt(ctx.settings.general("bkpIndex", "0")) + 1;
    editor.proposeNew(static_cast<int>(number));
    (void)ctx.settings.saveGeneral("bkpIndex", std::to_string(number));
    editor.showPage(page);
    if (editor.exec() != QDialog::Accepted) {
        return false;
    }
    if (saved != nullptr) {
        *saved = editor.savedName();
    }
    return true;
}

}  // namespace kestrel::ui
