#pragma once

#include <QDialog>

#include <optional>

class QLabel;
class QLineEdit;

// One IPv4 address as four fields of 0 to 255 (a blank field counts as 0). Typing a dot, or a
// third digit, moves on to the next field; pasting "a.b.c.d" into a field fills all four.
class CIpAddressEdit : public QWidget
{
    Q_OBJECT
public:
    explicit CIpAddressEdit(QWidget* parent = nullptr);
    // The 32-bit value, first field most significant; empty while a field holds no valid value.
    std::optional<quint32> Address() const;
    // The first field that holds no number from 0 to 255 (0-based), with what is wrong in
    // *pWhy; -1 when every field is fine.
    int BadField(QString* pWhy) const;
    void SetText(const QString& dotted);
    QLineEdit* Field(int i) const { return m_fields[i]; }
    // What a screen reader says for the address and each of its four parts.
    void SetAccessibleLabel(const QString& label);

private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    QLineEdit* m_fields[4] = {};
    int m_nAutoAdvanced = -1; // the field the third digit of its predecessor moved to
};

// "IP Range": a range name and the first and last address.
class CIpRangeDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CIpRangeDlg(QWidget* parent = nullptr);
    QString m_strRangeName;
    quint32 m_dwFirstAddress = 0;
    quint32 m_dwLastAddress = 0;

    QLineEdit* NameEdit() const { return m_editName; }
    CIpAddressEdit* FirstEdit() const { return m_editFirst; }
    CIpAddressEdit* LastEdit() const { return m_editLast; }
    // Says why OK did nothing (empty while all is well).
    QLabel* ErrorLabel() const { return m_wndError; }

    void accept() override;

private:
    QLabel* m_wndError;
    QLineEdit* m_editName;
    CIpAddressEdit* m_editFirst;
    CIpAddressEdit* m_editLast;
};

// "New Domain or Workgroup": one name, at most 259 characters.
class CAddDomainDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAddDomainDlg(QWidget* parent = nullptr);
    QString m_szDomain;
    QLineEdit* NameEdit() const { return m_editDomain; }
    void accept() override;

private:
    QLineEdit* m_editDomain;
};
