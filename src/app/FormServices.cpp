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
