#pragma once

class QLineEdit;

// What the window's keys and menus ask of the screen it shows, for screens that have a list to
// search, read again and copy from.
class ScreenCommands {
public:
    virtual ~ScreenCommands() = default;

    // The field that Ctrl+F puts the cursor in.
    virtual QLineEdit& searchField() const = 0;
    // Reads the list again as the refresh button does; nothing while the button is greyed out.
    virtual void refreshNow() = 0;
    // Puts the table's selected rows on the clipboard, under a line of column titles.
    virtual void copySelectedRows() const = 0;
};
