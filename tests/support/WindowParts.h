// A window's widgets and menu entries as the tests reach them: by their object
// names, used as the user uses them (an entry triggered, a button clicked). A name
// the window does not hold fails the test.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <gtest/gtest.h>
#include <stdexcept>

template <class T = QWidget>
T* part(const QObject& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found) {
        ADD_FAILURE() << "the window holds no " << name;
        throw std::runtime_error(name);  // ends the test here
    }
    return found;
}

inline void trigger(const QObject& window, const char* action) { part<QAction>(window, action)->trigger(); }
inline void click(const QObject& window, const char* button) { part<QAbstractButton>(window, button)->click(); }

