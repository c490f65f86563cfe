#pragma once

#include "gui/shell/view.h"

/// The start view: an empty form shown until the operator chooses a window.
class CqarsiloView : public CView {
    Q_OBJECT
public:
    explicit CqarsiloView(QWidget* parent = nullptr);
    void onInitialUpdate() override;
};
