#pragma once

#include <QWidget>

#include <optional>

class AppSettings;
struct CommonPort;
class CommonPortsModel;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QTableView;

// The settings screen: edits the user's common-ports list.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    explicit SettingsView(AppSettings& settings, QWidget* parent = nullptr);
    ~SettingsView() override;

protected:
    void changeEvent(QEvent* event) override;

private:
    AppSettings& m_settings;
    CommonPortsModel* m_model = nullptr;

    QLabel* m_symbol = nullptr;
    QLabel* m_hint = nullptr;
    QLineEdit* m_port = nullptr;
    QLineEdit* m_note = nullptr;
    QWidget* m_errorRow = nullptr;
    QLabel* m_error = nullptr;
    QTableView* m_table = nullptr;
    QLabel* m_count = nullptr;
    QPushButton* m_reset = nullptr;
    QMessageBox* m_confirmReset = nullptr;

    QWidget* buildHeader();
    QWidget* buildAddRow();
    QWidget* buildErrorRow();
    QWidget* buildTable();
    QWidget* buildFooter();

    // Validates the two fields and adds the entry, or says why not.
    void add();
    // Colours derived from the palette, again whenever the palette changes (light or dark).
    void applyPaletteColours();
    void setAddError(const std::optional<QString>& message);
    void askToReset();
    void syncCount();
    QWidget* buildRemoveButton(const CommonPort& entry);
};
