#include "Accessibility.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLayout>
#include <QTabWidget>
#include <QToolButton>

namespace {

QString SpokenCaption(QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text.trimmed();
}

QString OwnCaption(QWidget* widget) {
    if (auto* tool = qobject_cast<QToolButton*>(widget); tool && tool->defaultAction()) {
        return SpokenCaption(tool->defaultAction()->text());
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return SpokenCaption(button->text());
    }
    if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        return SpokenCaption(group->title());
    }
    return {};
}

// The caption of the tab page whose only control this widget is.
QString TabPageCaption(QWidget* widget) {
    QWidget* page = widget->parentWidget();
    if (!page || !page->parentWidget()) {
        return {};
    }
    auto* tabs = qobject_cast<QTabWidget*>(page->parentWidget()->parentWidget());
    if (!tabs || tabs->indexOf(page) < 0 || !page->layout() || page->layout()->count() != 1) {
        return {};
    }
    return SpokenCaption(tabs->tabText(tabs->indexOf(page)));
}

void Name(QWidget* widget, const QString& name) {
    widget->setAccessibleName(name);
    if (QWidget* proxy = widget->focusProxy()) {
        proxy->setAccessibleName(name);
    }
}

} // namespace

void AssignAccessibleNames(QWidget* root) {
    QHash<QWidget*, QString> labelled;
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (label->buddy()) {
            labelled.insert(label->buddy(), SpokenCaption(label->text()));
        }
    }
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* widget : widgets) {
        if (!widget->accessibleName().isEmpty() || qobject_cast<QLabel*>(widget)) {
            continue;
        }
        QString name = OwnCaption(widget);
        if (name.isEmpty()) {
            name = labelled.value(widget);
        }
        if (name.isEmpty()) {
            name = TabPageCaption(widget);
        }
        if (!name.isEmpty()) {
            Name(widget, name);
        }
    }
}
