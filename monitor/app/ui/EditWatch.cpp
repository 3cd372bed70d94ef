#include "EditWatch.h"

#include "MonitorApi.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>

namespace skyvane {

EditWatch::EditWatch(MonitorApi& core, QObject* parent) : QObject(parent), core_(core)
{
    qApp->installEventFilter(this);
}

EditWatch::~EditWatch()
{
    if (qApp) qApp->removeEventFilter(this);
}

bool EditWatch::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::FocusOut:
        // The edit itself happens while this event, or the one just before
        // it, is handled; the core looks a second later.
        core_.settingsTouched();
        break;
    case QEvent::Hide:
        if (qobject_cast<QDialog*>(watched)) core_.settingsTouched();
        break;
    default:
        break;
    }
    return false;
}

} // namespace skyvane
