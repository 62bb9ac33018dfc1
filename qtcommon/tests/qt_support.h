// Qt for GoogleTest binaries: one QApplication on the offscreen platform
// for the whole run, and a helper that acts on a modal dialog once it is
// shown (a modal dialog's exec() does not return until it is closed).
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>

namespace lumarc::qtcommon::testing {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "qt-test";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

// Calls action with the first visible top-level widget of type T, from the
// event loop of whatever modal dialog is running; gives up after 10 s.
template <class T> void whenShown(std::function<void(T*)> action)
{
    auto* timer = new QTimer;
    auto started = std::make_shared<std::chrono::steady_clock::time_point>(
        std::chrono::steady_clock::now());
    QObject::connect(timer, &QTimer::timeout, [timer, action, started] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* wanted = qobject_cast<T*>(widget); wanted != nullptr && wanted->isVisible()) {
                timer->stop();
                timer->deleteLater();
                action(wanted);
                return;
            }
        }
        if (std::chrono::steady_clock::now() - *started > std::chrono::seconds(10)) {
            ADD_FAILURE() << "no " << T::staticMetaObject.className() << " was shown";
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

} // namespace lumarc::qtcommon::testing
