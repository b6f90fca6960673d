#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QtGlobal>

#include <benchmark/benchmark.h>

// What a benchmark of the window sets up before it measures: the offscreen platform unless the
// caller names another; settings in a folder of their own, so that it neither starts from the
// choices a user's Kestrow remembers (auto-refresh off, another sort order) nor leaves its own
// behind for the next program; the application object; and the benchmark library's flags.
class BenchApplication {
public:
    BenchApplication(int& argc, char** argv) : m_app(argc, argv)
    {
        benchmark::Initialize(&argc, argv);
    }

private:
    static bool prepare(const QTemporaryDir& config)
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    }

    // In this order: the environment is set before the application object reads it.
    QTemporaryDir m_config;
    bool m_prepared = prepare(m_config);
    QApplication m_app;
};
