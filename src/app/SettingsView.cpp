// Placeholder until the settings screen is built.
#include "SettingsView.h"

SettingsView::SettingsView(AppSettings& settings, QWidget* parent) : QWidget(parent), m_settings(settings)
{
}

SettingsView::~SettingsView() = default;
