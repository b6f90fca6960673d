#pragma once

#include <QWidget>

#include <memory>

class LaunchdStore;

// The scheduled-jobs screen. Owns its store; loads the job list each time it is shown.
class LaunchdView : public QWidget {
    Q_OBJECT

public:
    explicit LaunchdView(QWidget* parent = nullptr);
    ~LaunchdView() override;

    LaunchdStore& store() const;

private:
    std::shared_ptr<LaunchdStore> m_store;
};
