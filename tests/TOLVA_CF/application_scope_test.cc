#include "TOLVA_CF/dialogs/application_scope.h"

#include <QApplication>
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

namespace {

using tolva::cf::GuiApplicationScope;

int g_argc = 1;
char g_name[] = "config";
char* g_argv[] = {g_name, nullptr};

TEST(GuiApplicationScope, MakesAnApplicationForItsLifeAndPutsTheLocaleBack) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    setenv("LC_ALL", "fr_FR.UTF-8", 1);
    {
        const GuiApplicationScope scope;
        EXPECT_TRUE(scope.ready());
        EXPECT_TRUE(scope.owns_application());
        EXPECT_NE(qobject_cast<QApplication*>(QCoreApplication::instance()), nullptr);
    }
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
}

TEST(GuiApplicationScope, UsesTheProgramsWidgetApplication) {
    QApplication application(g_argc, g_argv);
    {
        const GuiApplicationScope scope;
        EXPECT_TRUE(scope.ready());
        EXPECT_FALSE(scope.owns_application());
    }
    EXPECT_EQ(QCoreApplication::instance(), &application);
}

TEST(GuiApplicationScope, RefusesAProgramWithoutWidgets) {
    QCoreApplication application(g_argc, g_argv);
    const GuiApplicationScope scope;
    EXPECT_FALSE(scope.ready());
    EXPECT_EQ(QCoreApplication::instance(), &application);
}

TEST(GuiApplicationScope, RefusesRatherThanEndTheProgramWithoutADisplay) {
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    const GuiApplicationScope scope;
    EXPECT_FALSE(scope.ready());
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// Printing shows nothing, so it needs no display.
TEST(GuiApplicationScope, PrintsWithoutADisplay) {
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    {
        const GuiApplicationScope scope(tolva::cf::GuiUse::printing);
        EXPECT_TRUE(scope.ready());
        EXPECT_TRUE(scope.owns_application());
    }
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

}  // namespace
