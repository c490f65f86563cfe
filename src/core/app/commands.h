#pragma once

namespace qarsilo {

/// Command numbers of the menu and toolbars. Scripts and tests address
/// commands by these numbers, so they never change.
namespace cmd {
enum : int {
    SelectAdapter = 32793,
    OpenCaptureFile = 32830, ///< reads a capture file instead of an adapter
    SaveFrames = 32831,      ///< writes the analyzer's frames to a capture file
    Exit = 57665,
    General = 32782,
    Single = 32783,
    PacketSize = 32784,
    PDNetworkLayer = 32797,
    PDIPv4 = 32798,
    PDApplication = 32802,
    PDIPv6 = 32819,
    PDv4v6 = 32820,
    Cumulative = 32812,
    CaptureDecode = 32785,
    TraceSingle = 32788,
    AddressBook = 32792,
    HelpContents = 32816,
    HelpIndex = 57666,
    HelpSearch = 32817,
    About = 57664,
    Nothing = 32794, ///< routed to a handler that does nothing

    // Edit, View and Go: handled by the view that shows frames
    Find = 32860,
    FindNext = 32861,
    FindPrevious = 32862,
    GoToFrame = 32863,
    TimeAsCaptured = 32864, ///< View > Time Format, kept in the settings
    TimeDateAndTime = 32865,
    TimeSinceFirstFrame = 32866,
    ReplayRealTime = 32867, ///< View > Replay Speed (chart windows on files), kept in the settings
    ReplayTenTimes = 32868,
    ReplayFastest = 32869,

    // First toolbar: pop-up menus
    ToolbarStatistic = 32809,
    ToolbarChart = 32810,
    ToolbarAnalyzer = 32808,
    ToolbarTrace = 32807,

    // Second toolbar: handled by the current view
    BarGraph = 32795,
    PieChart = 32796,
    Start = 32790,
    Stop = 32791,
    AddressBookPlus = 32801,

    // File > "Address Book Location...": the settings' "Address Book" value
    AddressBookLocation = 32840,
    // Tools > "Spill Folder...": the settings' "Spill Folder" value
    SpillFolder = 32841,

    // Network Statistics > "Conversations" and "Endpoints"
    Conversations = 32870,
    Endpoints = 32871,
};
} // namespace cmd

/// Numbers of the views, by which the frame switches between them.
namespace view {
enum : int {
    Start = 101,
    PDApplication = 109,
    GeneralInfo = 144,
    PDL2 = 145,
    PDL3 = 146,
    SingleNode = 147,
    TraceSingle = 149,
    CaptureDecode = 150,
    PacketSize = 151,
    PDv6L3 = 179,
    PDv4v6L3 = 180,
    Conversations = 181,
    Endpoints = 182,
};
} // namespace view

/// The view a menu command shows, or 0 when the command shows no view.
constexpr int viewForCommand(int command) {
    switch (command) {
    case cmd::General:
        return view::GeneralInfo;
    case cmd::Single:
        return view::SingleNode;
    case cmd::PacketSize:
        return view::PacketSize;
    case cmd::PDNetworkLayer:
        return view::PDL2;
    case cmd::PDIPv4:
        return view::PDL3;
    case cmd::PDApplication:
        return view::PDApplication;
    case cmd::PDIPv6:
        return view::PDv6L3;
    case cmd::PDv4v6:
        return view::PDv4v6L3;
    case cmd::CaptureDecode:
        return view::CaptureDecode;
    case cmd::TraceSingle:
        return view::TraceSingle;
    case cmd::Conversations:
        return view::Conversations;
    case cmd::Endpoints:
        return view::Endpoints;
    default:
        return 0;
    }
}

/// Images of the second toolbar's strip, in order.
namespace viewimage {
enum : int { BarGraph = 0, PieChart = 1, Start = 2, Stop = 3, AddressBookPlus = 4 };
}

} // namespace qarsilo
