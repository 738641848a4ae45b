#include "CNetworkDialogs.h"

#include "network/IpRange.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

CIpAddressEdit::CIpAddressEdit(QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    for (int i = 0; i < 4; ++i) {
        m_fields[i] = new QLineEdit(this);
        m_fields[i]->setObjectName(QStringLiteral("field%1").arg(i));
        m_fields[i]->setAlignment(Qt::AlignCenter);
        m_fields[i]->setMaxLength(15); // room for a pasted dotted address
        m_fields[i]->setFixedWidth(
            m_fields[i]->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12);
        m_fields[i]->installEventFilter(this);
        row->addWidget(m_fields[i]);
        if (i < 3)
            row->addWidget(new QLabel(QStringLiteral("."), this));
        connect(m_fields[i], &QLineEdit::textEdited, this, [this, i](const QString& text) {
            if (text.count(QLatin1Char('.')) == 3) {
                SetText(text); // a whole address pasted or typed into one field
                return;
            }
            if (text.size() == 3 && i < 3) {
                m_fields[i + 1]->setFocus();
                m_fields[i + 1]->selectAll();
                m_nAutoAdvanced = i + 1;
            }
        });
    }
    row->addStretch(1);
    setFocusProxy(m_fields[0]);
}

bool CIpAddressEdit::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    for (int i = 0; i < 4; ++i) {
        if (watched != m_fields[i])
            continue;
        const bool bAutoAdvanced = m_nAutoAdvanced == i;
        m_nAutoAdvanced = -1;
        if (key->text() != QLatin1String("."))
            break;
        // A dot right after the field was entered by its predecessor's third digit belongs
        // to that move; otherwise it moves on. The last field takes no dot.
        if (!bAutoAdvanced && i < 3) {
            m_fields[i + 1]->setFocus();
            m_fields[i + 1]->selectAll();
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

std::optional<quint32> CIpAddressEdit::Address() const
{
    QStringList parts;
    for (QLineEdit* f : m_fields)
        parts << f->text();
    return iprange::FromFields(parts);
}

int CIpAddressEdit::BadField(QString* pWhy) const
{
    for (int i = 0; i < 4; ++i) {
        const QString t = m_fields[i]->text().trimmed();
        if (t.isEmpty())
            continue; // an empty part is 0
        bool bNumber = false;
        const uint n = t.toUInt(&bNumber, 10);
        if (!bNumber)
            *pWhy = tr("\"%1\" is not a number").arg(t);
        else if (n > 255 || t.size() > 3)
            *pWhy = tr("%1 is more than 255").arg(t);
        else
            continue;
        return i;
    }
    return -1;
}

void CIpAddressEdit::SetText(const QString& dotted)
{
    const QStringList parts = dotted.split(QLatin1Char('.'));
    for (int i = 0; i < 4; ++i)
        m_fields[i]->setText(i < parts.size() ? parts[i].trimmed() : QString());
}

void CIpAddressEdit::SetAccessibleLabel(const QString& label)
{
    setAccessibleName(label);
    for (int i = 0; i < 4; ++i)
        m_fields[i]->setAccessibleName(tr("%1, part %2 of 4").arg(label, QString::number(i + 1)));
}

CIpRangeDlg::CIpRangeDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("IP Range"));
    m_editName = new QLineEdit(tr("IP range 1"), this);
    m_editName->setObjectName(QStringLiteral("editRangeName"));
    m_editFirst = new CIpAddressEdit(this);
    m_editFirst->setObjectName(QStringLiteral("ipFirst"));
    m_editLast = new CIpAddressEdit(this);
    m_editLast->setObjectName(QStringLiteral("ipLast"));
    m_editFirst->SetAccessibleLabel(tr("First IP"));
    m_editLast->SetAccessibleLabel(tr("Last IP"));
    auto* form = new QFormLayout;
    form->addRow(tr("IP range name:"), m_editName);
    form->addRow(tr("First IP:"), m_editFirst);
    form->addRow(tr("Last IP:"), m_editLast);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(tr("&OK"), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    buttons->addButton(tr("&Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    m_wndError = new QLabel(this);
    m_wndError->setObjectName(QStringLiteral("errorText"));
    m_wndError->setWordWrap(true);
    m_wndError->setStyleSheet(QStringLiteral("color: #b00020;"));
    m_wndError->hide();
    auto* col = new QVBoxLayout(this);
    col->addLayout(form);
    col->addWidget(m_wndError);
    col->addWidget(buttons);
    m_editFirst->setFocus();
}

void CIpRangeDlg::accept()
{
    // A field out of 0..255 cannot be an address: the dialog says which and why, and that
    // field takes the focus.
    for (CIpAddressEdit* edit : {m_editFirst, m_editLast}) {
        QString why;
        const int nField = edit->BadField(&why);
        if (nField < 0)
            continue;
        m_wndError->setText(tr("%1, part %2: %3. Each part is a number from 0 to 255.")
                                .arg(edit == m_editFirst ? tr("First IP") : tr("Last IP"))
                                .arg(nField + 1)
                                .arg(why));
        m_wndError->show();
        edit->Field(nField)->setFocus();
        edit->Field(nField)->selectAll();
        return;
    }
    const auto first = m_editFirst->Address();
    const auto last = m_editLast->Address();
    if (!first || !last)
        return;
    m_wndError->hide();
    m_strRangeName = m_editName->text();
    m_dwFirstAddress = *first;
    m_dwLastAddress = *last;
    QDialog::accept();
}

CAddDomainDlg::CAddDomainDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("New Domain or Workgroup"));
    m_editDomain = new QLineEdit(this);
    m_editDomain->setObjectName(QStringLiteral("editDomain"));
    m_editDomain->setMaxLength(259);
    auto* add = new QPushButton(tr("&Add"), this);
    add->setDefault(true);
    connect(add, &QPushButton::clicked, this, &QDialog::accept);
    auto* col = new QVBoxLayout(this);
    auto* label = new QLabel(tr("Input Domain or Workgroup:"), this);
    label->setBuddy(m_editDomain); // the label names the box for a screen reader too
    col->addWidget(label);
    col->addWidget(m_editDomain);
    col->addWidget(add, 0, Qt::AlignRight);
}

void CAddDomainDlg::accept()
{
    m_szDomain = m_editDomain->text().left(259);
    QDialog::accept();
}
