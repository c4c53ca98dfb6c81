#include "FormServices.h"

#include <QTabBar>
#include <QTabWidget>

void HidePageTabs(QTabWidget* control) {
    const bool wasHidden = control->isHidden();
    for (int i = 0; i < control->count(); ++i) {
        control->setTabVisible(i, false);
    }
    control->tabBar()->hide();
    control->setHidden(wasHidden);
}

void FitWidth(QWidget* control, int margin) {
    if (QWidget* parent = control->parentWidget()) {
        control->resize(parent->width() - control->x() - margin, control->height());
    }
}
