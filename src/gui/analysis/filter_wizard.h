#pragma once

#include "core/analysis/filter_check.h"
#include "gui/analysis/filter_wizard_pages.h"

#include <QDialog>
#include <optional>

class QLabel;
class QPushButton;
class QStackedWidget;

/// "Filter Option": the wizard that builds the analyzer's capture filter, one
/// layer at a time (Ethernet, layer-3 protocol or IP). The expression is
/// compiled for the selected adapter on every change and shown under the
/// pages, green when it compiles, red with libpcap's reason when it does not;
/// "Finish" is offered only for an expression that compiles.
class CFilterWizard : public QDialog {
    Q_OBJECT
public:
    enum Page { Welcome, Ethernet, Layer3, Ip, PageCount };

    /// `adapterName`: the adapter the filter is compiled for (a device or
    /// "file:PATH").
    explicit CFilterWizard(const QString& adapterName, QWidget* parent = nullptr);

    /// Shows the wizard modally: the expression when the operator finished,
    /// nothing when cancelled.
    std::optional<QString> run();

    /// Replaces the address book picker (tests).
    void setNodePicker(NodePicker picker) { m_picker = std::move(picker); }

    /// The Ethernet page's expression if not empty, else the layer-3 page's,
    /// else the IP page's.
    QString expression() const;
    /// libpcap's reason why expression() does not compile; empty when it does.
    QString compileError() const { return m_error; }

    int currentPage() const;
    CFilterWelcomePage* welcomePage() const { return m_welcome; }
    CEthernetFilterPage* ethernetPage() const { return m_ethernet; }
    CLayer3FilterPage* layer3Page() const { return m_layer3; }
    CIpFilterPage* ipPage() const { return m_ip; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* nextButton() const { return m_next; }
    QPushButton* finishButton() const { return m_finish; }
    QPushButton* cancelButton() const { return m_cancel; }
    QLabel* expressionLabel() const { return m_status; }

public Q_SLOTS:
    void back();
    void next();
    void finish();

private:
    void showPage(int index);
    void update();
    CFilterPage* page(int index) const;

    qarsilo::FilterCheck m_check;
    NodePicker m_picker;
    QStackedWidget* m_stack;
    CFilterWelcomePage* m_welcome;
    CEthernetFilterPage* m_ethernet;
    CLayer3FilterPage* m_layer3;
    CIpFilterPage* m_ip;
    QLabel* m_picture;
    QLabel* m_status;
    QPushButton* m_back;
    QPushButton* m_next;
    QPushButton* m_finish;
    QPushButton* m_cancel;
    QString m_error;
};
