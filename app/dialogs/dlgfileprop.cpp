#include "dialogs/dlgfileprop.h"

#include "core/fileperm.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QVBoxLayout>

namespace {

template <class T> T* Named(T* w, int id)
{
    w->setObjectName(QString::number(id));
    return w;
}

QString FromBytes(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.length()));
}

// Texts from a server are shown as they are, never as markup.
QLabel* PlainLabel(int id)
{
    auto* label = Named(new QLabel, id);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// The boxes in the order of their bits, highest first, with their ids.
struct BoxDef
{
    int id;
    uint32_t bit;
};

constexpr BoxDef kPermBoxes[] = {
    {CDlgFilePropUnix::IDC_OWNER_R, kPermOwnerR}, {CDlgFilePropUnix::IDC_OWNER_W, kPermOwnerW},
    {CDlgFilePropUnix::IDC_OWNER_X, kPermOwnerX}, {CDlgFilePropUnix::IDC_GROUP_R, kPermGroupR},
    {CDlgFilePropUnix::IDC_GROUP_W, kPermGroupW}, {CDlgFilePropUnix::IDC_GROUP_X, kPermGroupX},
    {CDlgFilePropUnix::IDC_OTHER_R, kPermOtherR}, {CDlgFilePropUnix::IDC_OTHER_W, kPermOtherW},
    {CDlgFilePropUnix::IDC_OTHER_X, kPermOtherX}, {CDlgFilePropUnix::IDC_SETUID, kPermSetUid},
    {CDlgFilePropUnix::IDC_SETGID, kPermSetGid},  {CDlgFilePropUnix::IDC_STICKY, kPermSticky},
};

constexpr BoxDef kAttrBoxes[] = {
    {CDlgFilePropStd::IDC_READONLY, kAttrReadOnly},
    {CDlgFilePropStd::IDC_HIDDEN, kAttrHidden},
    {CDlgFilePropStd::IDC_SYSTEM, kAttrSystem},
    {CDlgFilePropStd::IDC_ARCHIVE, kAttrArchive},
};

} // namespace

// ---------------------------------------------------------------------------
// CDlgFileProp

CDlgFileProp::CDlgFileProp(const KV_FileDataExt& entry, const QString& server,
                           const QString& file_name, QWidget* parent)
    : CDlgFileProp(67, entry, server, file_name, parent)
{
    FinishLayout();
}

CDlgFileProp::CDlgFileProp(int template_id, const KV_FileDataExt& entry, const QString& server,
                           const QString& file_name, QWidget* parent)
    : CKVDialog(template_id, parent), entry(entry), server(server), file_name(file_name)
{
    setWindowTitle(QStringLiteral("File properties"));
    if (template_id != 67) {
        setWindowIcon(style()->standardIcon(QStyle::SP_FileDialogInfoView));
    }
    if (entry.valid_time()) {
        time_text = FromBytes(entry.tm_disp());
    }
    if (entry.valid_size(true)) {
        size_text = QStringLiteral("%1 byte(s)").arg(entry.size(true));
    }

    layout_main = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto* name_edit = Named(new QLineEdit(file_name), IDC_NAME);
    name_edit->setReadOnly(true);
    form->addRow(QStringLiteral("Name:"), name_edit);
    if (template_id != 70) {
        auto* server_label = Named(new QLabel(QStringLiteral("Server:")), IDC_SERVER_LABEL);
        auto* server_text = PlainLabel(IDC_SERVER);
        server_text->setText(server);
        form->addRow(server_label, server_text);
        if (server.isEmpty()) {
            server_label->hide();
            server_text->hide();
        }
    }
    auto* time = PlainLabel(IDC_TIME);
    time->setText(time_text);
    form->addRow(QStringLiteral("Modified:"), time);
    auto* size = PlainLabel(IDC_SIZE);
    size->setText(size_text);
    form->addRow(QStringLiteral("Size:"), size);
    layout_main->addLayout(form);
}

void CDlgFileProp::FinishLayout()
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout_main->addWidget(buttons);
}

QCheckBox* CDlgFileProp::AddBox(QGridLayout* grid, int id, const char* text, int row, int column)
{
    auto* box = Named(new QCheckBox(QLatin1String(text)), id);
    grid->addWidget(box, row, column);
    return box;
}

// ---------------------------------------------------------------------------
// CDlgFilePropUnix

CDlgFilePropUnix::CDlgFilePropUnix(int template_id, bool special, const KV_FileDataExt& entry,
                                   const QString& server, const QString& file_name, QWidget* parent)
    : CDlgFileProp(template_id, entry, server, file_name, parent), special(special),
      mask(special ? 07777u : kPermRwx)
{
    readable = PermBitsFromAccess(entry.accf(), &bits);
    // Without boxes for them the special bits are kept as listed: an "s" is
    // execute too, and OK must not take either away.
    kept = bits & ~mask;
    bits &= mask;

    auto* owners = new QFormLayout;
    auto* user = PlainLabel(IDC_USER);
    user->setText(FromBytes(entry.user()));
    owners->addRow(QStringLiteral("User:"), user);
    auto* group = PlainLabel(IDC_GROUP);
    group->setText(FromBytes(entry.group()));
    owners->addRow(QStringLiteral("Group:"), group);
    owners->addRow(QStringLiteral("Permissions (octal):"), Named(new QLineEdit, IDC_OCTAL));
    layout_main->addLayout(owners);

    auto* triplets = new QHBoxLayout;
    const char* titles[] = {"Owner", "Group", "Others"};
    for (int t = 0; t < 3; ++t) {
        auto* box = new QGroupBox(QLatin1String(titles[t]));
        auto* grid = new QGridLayout(box);
        AddBox(grid, kPermBoxes[3 * t].id, "Read", 0, 0);
        AddBox(grid, kPermBoxes[3 * t + 1].id, "Write", 1, 0);
        AddBox(grid, kPermBoxes[3 * t + 2].id, "Execute", 2, 0);
        triplets->addWidget(box);
    }
    layout_main->addLayout(triplets);
    if (special) {
        auto* grid = new QGridLayout;
        AddBox(grid, IDC_SETUID, "Set UID", 0, 0);
        AddBox(grid, IDC_SETGID, "Set GID", 0, 1);
        AddBox(grid, IDC_STICKY, "Sticky", 0, 2);
        layout_main->addLayout(grid);
    }
    FinishLayout();

    connect(Item<QLineEdit>(IDC_OCTAL), &QLineEdit::textChanged, this,
            &CDlgFilePropUnix::OnOctalChanged);
    for (const BoxDef& b : kPermBoxes) {
        if (auto* box = Item<QCheckBox>(b.id)) {
            connect(box, &QCheckBox::clicked, this, &CDlgFilePropUnix::OnBoxClicked);
        }
    }
}

uint32_t CDlgFilePropUnix::BoxBits() const
{
    uint32_t value = 0;
    for (const BoxDef& b : kPermBoxes) {
        const auto* box = Item<QCheckBox>(b.id);
        if (box != nullptr && box->isChecked()) {
            value |= b.bit;
        }
    }
    return value & mask;
}

void CDlgFilePropUnix::SetBoxes(uint32_t value)
{
    for (const BoxDef& b : kPermBoxes) {
        if (auto* box = Item<QCheckBox>(b.id)) {
            box->setChecked((value & b.bit) != 0);
        }
    }
}

void CDlgFilePropUnix::exchange(bool save)
{
    CDlgFileProp::exchange(save);
    if (save) {
        bits = BoxBits();
    } else {
        SetBoxes(bits);
        OnBoxClicked();
    }
}

void CDlgFilePropUnix::OnOctalChanged()
{
    if (octal_updates == 0) {
        return;
    }
    SetBoxes(ParsePermOctal(Item<QLineEdit>(IDC_OCTAL)->text(), mask));
}

void CDlgFilePropUnix::OnBoxClicked()
{
    octal_updates = 0;
    Item<QLineEdit>(IDC_OCTAL)->setText(FormatPermOctal(BoxBits()));
    octal_updates = 1;
}

bool CDlgFilePropUnix::GetPermissions(QString& octal, KV_String& accf) const
{
    // Rebuilt from the boxes rather than taken as typed: the boxes hold what
    // the text could be read as, so "9x" never reaches the server.
    const uint32_t all = bits | kept;
    octal = FormatPermOctal(all);
    accf = AccessFromPermBits(entry.accf(), all);
    return readable && accf != entry.accf();
}

// ---------------------------------------------------------------------------
// CDlgFilePropFtp, CDlgFilePropSftp

CDlgFilePropFtp::CDlgFilePropFtp(const KV_FileDataExt& entry, const QString& server,
                                 const QString& file_name, QWidget* parent)
    : CDlgFilePropUnix(68, true, entry, server, file_name, parent)
{
}

CDlgFilePropSftp::CDlgFilePropSftp(const KV_FileDataExt& entry, const QString& server,
                                   const QString& file_name, QWidget* parent)
    : CDlgFilePropUnix(69, false, entry, server, file_name, parent)
{
}

// ---------------------------------------------------------------------------
// CDlgFilePropStd

CDlgFilePropStd::CDlgFilePropStd(const KV_FileDataExt& entry, const QString& file_name,
                                 QWidget* parent)
    : CDlgFileProp(70, entry, QString(), file_name, parent)
{
    attrs = AttrFromLetters(entry.accf());
    auto* box = new QGroupBox(QStringLiteral("Attributes"));
    auto* grid = new QGridLayout(box);
    AddBox(grid, IDC_READONLY, "Read only", 0, 0);
    AddBox(grid, IDC_HIDDEN, "Hidden", 0, 1);
    AddBox(grid, IDC_SYSTEM, "System", 1, 0);
    AddBox(grid, IDC_ARCHIVE, "Archive", 1, 1);
    layout_main->addWidget(box);
    FinishLayout();
}

void CDlgFilePropStd::exchange(bool save)
{
    CDlgFileProp::exchange(save);
    for (const BoxDef& b : kAttrBoxes) {
        auto* box = Item<QCheckBox>(b.id);
        if (save) {
            attrs = box->isChecked() ? (attrs | b.bit) : (attrs & ~b.bit);
        } else {
            box->setChecked((attrs & b.bit) != 0);
        }
    }
}

bool CDlgFilePropStd::GetAttributes(KV_String& letters, KV_String& copy) const
{
    letters = LettersFromAttr(attrs);
    copy = letters;
    return letters != entry.accf();
}
