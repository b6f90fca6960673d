#pragma once

#include <QWidget>

class AppSettings;

// The settings screen: edits the user's common-ports list.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    explicit SettingsView(AppSettings& settings, QWidget* parent = nullptr);
    ~SettingsView() override;

private:
    AppSettings& m_settings;
};
