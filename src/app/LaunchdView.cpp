// Placeholder until the scheduled-jobs screen is built.
#include "LaunchdView.h"

#include "Stores.h"

LaunchdView::LaunchdView(QWidget* parent) : QWidget(parent), m_store(std::make_shared<LaunchdStore>())
{
}

LaunchdView::~LaunchdView() = default;

LaunchdStore& LaunchdView::store() const
{
    return *m_store;
}
