#include "Commands.h"

#include <QHash>

namespace {
struct PromptRow
{
    int nId;
    const char* pszString; // prompt and tool tip separated by "\n"
};

const PromptRow kPrompts[] = {
    {ID_DISCOVER_NETWORK, "Discover Network structure.\nDiscover Network structure"},
    {ID_SCAN_IP_RANGE, "Add IP Range to Network structure.\nScan IP Range"},
    {ID_ADD_DOMAIN, "Add domain or workgroup to Network structure.\nAdd Domain or Workgroup"},
    {ID_CONNECT_AS, "Log in to the server and list its shares.\nConnect as"},
    {ID_LOAD_TREE, "Load Network tree from file.\nLoad Network tree"},
    {ID_SAVE_TREE, "Save Network tree to file.\nSave Network tree"},
    {ID_FORGET_INDEX, "Delete the index of the walked shares.\nForget index"},
    {ID_HELP_TOPICS, "Display Help Topics\nHelp"},
    {ID_VIEW_SEARCHBAR, "Show or hide the Search Bar\nToggle Search Bar"},
    {ID_VIEW_NETWORKLOG, "Show or hide the Network Log\nToggle Network Log"},
    {ID_OPEN_FOLDER, "Open containing folder.\nOpen folder"},
    {ID_COPY_FILES, "Copy file(s) to specified folder.\nCopy to folder"},
    {ID_MOVE_FILES, "Move file(s) to specified folder.\nMove to folder"},
    {ID_DELETE_FILES, "Delete selected file(s)\nDelete file"},
    {ID_SAVE_RESULTS, "Save search result in text file.\nSave search results"},
    {ID_OPEN_FILE, "Open selected file.\nOpen file"},
    {ID_FILE_CLOSE, "Close the active document\nClose"},
    {ID_WINDOW_ARRANGE, "Arrange icons at the bottom of the window\nArrange Icons"},
    {ID_WINDOW_CASCADE, "Arrange windows so they overlap\nCascade Windows"},
    {ID_WINDOW_TILE_HORZ, "Arrange windows as non-overlapping tiles\nTile Windows"},
    {ID_APP_ABOUT, "Display program information, version number and copyright\nAbout"},
    {ID_APP_EXIT, "Quit the application; prompts to save documents\nExit"},
    {ID_VIEW_TOOLBAR, "Show or hide the toolbar\nToggle ToolBar"},
    {ID_VIEW_STATUS_BAR, "Show or hide the status bar\nToggle StatusBar"},
};

const MenuEntry kMenu128[] = {
    {-1, "&Network"},
    {ID_DISCOVER_NETWORK, "Discover Network structure"},
    {ID_SCAN_IP_RANGE, "&Scan IP Range..."},
    {ID_ADD_DOMAIN, "Add domain/workgroup..."},
    {0, ""},
    {ID_LOAD_TREE, "Load Network Tree..."},
    {ID_SAVE_TREE, "Save Network Tree..."},
    {0, ""},
    {ID_APP_EXIT, "E&xit"},
    {-1, "&View"},
    {ID_VIEW_TOOLBAR, "&Toolbar"},
    {ID_VIEW_SEARCHBAR, "Search &Bar"},
    {ID_VIEW_NETWORKLOG, "&Network Log"},
    {ID_VIEW_STATUS_BAR, "&Status Bar"},
    {-1, "&Help"},
    {ID_HELP_TOPICS, "&Help Topics"},
    {ID_APP_ABOUT, "&About Brindle Cove..."},
    {0, nullptr},
};

const MenuEntry kMenu129[] = {
    {-1, "&Network"},
    {ID_DISCOVER_NETWORK, "&Discover Network structure"},
    {ID_SCAN_IP_RANGE, "&Scan IP Range..."},
    {ID_ADD_DOMAIN, "&Add domain/workgroup..."},
    {0, ""},
    {ID_LOAD_TREE, "&Load Network tree..."},
    {ID_SAVE_TREE, "Save &Network tree..."},
    {0, ""},
    {ID_FORGET_INDEX, "&Forget index"},
    {0, ""},
    {ID_APP_EXIT, "E&xit"},
    {-1, "&File"},
    {ID_OPEN_FILE, "Open &File"},
    {ID_OPEN_FOLDER, "&Open Folder"},
    {ID_COPY_FILES, "&Copy file(s) to folder..."},
    {ID_MOVE_FILES, "&Move file(s) to folder..."},
    {ID_DELETE_FILES, "&Delete file(s)"},
    {0, ""},
    {ID_SAVE_RESULTS, "Save &finds as text file..."},
    {-1, "&View"},
    {ID_VIEW_TOOLBAR, "&Toolbar"},
    {ID_VIEW_SEARCHBAR, "Search &Bar"},
    {ID_VIEW_NETWORKLOG, "&Network Log"},
    {ID_VIEW_STATUS_BAR, "&Status Bar"},
    {-1, "&Window"},
    {ID_WINDOW_CASCADE, "&Cascade"},
    {ID_WINDOW_TILE_HORZ, "&Tile"},
    {ID_WINDOW_ARRANGE, "&Arrange Icons"},
    {-1, "&Help"},
    {ID_HELP_TOPICS, "&Help..."},
    {ID_APP_ABOUT, "&About Brindle Cove..."},
    {0, nullptr},
};

const MenuEntry kMenu132[] = {
    {-1, "_TAB_MENU_"},
    {ID_SAVE_RESULTS, "Save &finds as text file..."},
    {ID_FILE_CLOSE, "&Close"},
    {0, nullptr},
};

const MenuEntry kMenu135[] = {
    {-1, "_FILES_"},
    {ID_OPEN_FILE, "Open &File"},
    {ID_OPEN_FOLDER, "&Open Folder"},
    {ID_COPY_FILES, "&Copy file(s) to folder..."},
    {ID_MOVE_FILES, "&Move file(s) to folder..."},
    {ID_DELETE_FILES, "&Delete file(s)"},
    {ID_SAVE_RESULTS, "Save &finds as text file..."},
    {0, nullptr},
};

const MenuEntry kMenu136[] = {
    {-1, "_LOG_"},
    {ID_CLEAR_LOG, "&Clear Log"},
    {ID_SAVE_LOG, "&Save Log..."},
    {0, nullptr},
};

const MenuEntry kMenu137[] = {
    {-1, "_SERVERS_"},
    {ID_DISCOVER_NETWORK, "Discover Network structure"},
    {ID_SCAN_IP_RANGE, "&Scan IP Range..."},
    {ID_ADD_DOMAIN, "Add domain/workgroup..."},
    {ID_CONNECT_AS, "&Connect as..."},
    {0, ""},
    {ID_LOAD_TREE, "Load Network Tree..."},
    {ID_SAVE_TREE, "Save Network Tree..."},
    {0, nullptr},
};

const int kToolbar130[] = {ID_LOAD_TREE,
                           ID_SAVE_TREE,
                           0,
                           ID_DISCOVER_NETWORK,
                           ID_SCAN_IP_RANGE,
                           ID_ADD_DOMAIN,
                           0,
                           ID_OPEN_FOLDER,
                           ID_COPY_FILES,
                           0,
                           ID_HELP_TOPICS,
                           -1};
} // namespace

CommandPrompt PromptOf(int nId)
{
    for (const PromptRow& r : kPrompts) {
        if (r.nId != nId)
            continue;
        const QString s = QString::fromUtf8(r.pszString);
        const int nBreak = s.indexOf(QLatin1Char('\n'));
        return {s.left(nBreak), s.mid(nBreak + 1)};
    }
    return {};
}

QString ToolbarImageOf(int nId)
{
    static const QHash<int, QString> images = {
        {ID_LOAD_TREE, QStringLiteral(":/images/tb_load.png")},
        {ID_SAVE_TREE, QStringLiteral(":/images/tb_save.png")},
        {ID_DISCOVER_NETWORK, QStringLiteral(":/images/tb_discover.png")},
        {ID_SCAN_IP_RANGE, QStringLiteral(":/images/tb_scan.png")},
        {ID_ADD_DOMAIN, QStringLiteral(":/images/tb_domain.png")},
        {ID_OPEN_FOLDER, QStringLiteral(":/images/tb_folder.png")},
        {ID_COPY_FILES, QStringLiteral(":/images/tb_copy.png")},
        {ID_HELP_TOPICS, QStringLiteral(":/images/tb_help.png")},
    };
    return images.value(nId);
}

const MenuEntry* MenuEntries(int nMenu)
{
    switch (nMenu) {
    case IDR_MAINFRAME:
        return kMenu128;
    case IDR_BRINDLTYPE:
        return kMenu129;
    case IDR_TAB_MENU:
        return kMenu132;
    case IDR_FILES:
        return kMenu135;
    case IDR_LOG:
        return kMenu136;
    case IDR_SERVERS:
        return kMenu137;
    default:
        return nullptr;
    }
}

const int* ToolbarButtons()
{
    return kToolbar130;
}
