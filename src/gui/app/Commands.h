#pragma once

#include <QString>

// Command ids. Ids from 32777 are the program's own; 57344 and up are the standard ids.
enum CommandId : int
{
    ID_DISCOVER_NETWORK = 32777,
    ID_SCAN_IP_RANGE = 32778,
    ID_ADD_DOMAIN = 32779,
    ID_LOAD_TREE = 32780,
    ID_SAVE_TREE = 32781,
    ID_HELP_TOPICS = 32783,
    ID_VIEW_SEARCHBAR = 32784,
    ID_VIEW_NETWORKLOG = 32785,
    ID_OPEN_FOLDER = 32790,
    ID_COPY_FILES = 32791,
    ID_MOVE_FILES = 32792,
    ID_DELETE_FILES = 32793,
    ID_SAVE_RESULTS = 32794,
    ID_OPEN_FILE = 32803,
    ID_CLEAR_LOG = 32807,
    ID_SAVE_LOG = 32808,
    ID_CONNECT_AS = 32812,
    ID_FORGET_INDEX = 32813,
    ID_FILE_CLOSE = 57602,
    ID_WINDOW_ARRANGE = 57649,
    ID_WINDOW_CASCADE = 57650,
    ID_WINDOW_TILE_HORZ = 57651,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};

// Status-bar prompt and tool tip of a command (the two halves of its prompt string).
struct CommandPrompt
{
    QString strPrompt;
    QString strToolTip;
};
CommandPrompt PromptOf(int nId);

// Toolbar image of a command (":/images/..."), empty when it has none.
QString ToolbarImageOf(int nId);

// The menus. Each entry is a command id with its item text, or a separator (id 0). A popup
// title is an entry with id -1 that starts a new popup.
struct MenuEntry
{
    int nId;
    const char* pszText;
};
enum MenuResource : int
{
    IDR_MAINFRAME = 128,
    IDR_BRINDLTYPE = 129,
    IDR_TAB_MENU = 132,
    IDR_FILES = 135,
    IDR_LOG = 136,
    IDR_SERVERS = 137,
};
// Entries of one menu resource; the last entry has pszText == nullptr.
const MenuEntry* MenuEntries(int nMenu);
// Toolbar 130: command ids in button order, 0 for a separator, -1 at the end.
const int* ToolbarButtons();
