#pragma once

#include <QFrame>
#include <array>

class QLineEdit;

/// A four-field IPv4 address control. Each field takes up to three digits,
/// 0 to 255 (a larger number becomes 255); "." or a third digit moves on to
/// the next field, backspace in an empty field goes back. An empty field reads
/// as 0.
class CIpAddressEdit : public QFrame {
    Q_OBJECT
public:
    explicit CIpAddressEdit(QWidget* parent = nullptr);

    /// The value of field 0 to 3; empty or out of range reads as 0.
    int field(int index) const;
    std::array<int, 4> fields() const;
    /// True when every field is empty.
    bool isBlank() const;
    void setAddress(int a, int b, int c, int d);
    void clear();
    /// "%d.%d.%d.%d" of the four fields.
    QString addressText() const;
    QLineEdit* fieldEdit(int index) const;

Q_SIGNALS:
    /// The text of one field changed (typed or set).
    void fieldChanged(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onEdited(int index);
    void focusField(int index, bool selectAll);

    std::array<QLineEdit*, 4> m_fields{};
};
