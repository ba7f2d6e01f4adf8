#pragma once

// How the window's pictures reach an X server.
//
// By default Qt hands them over in memory shared with the server. Before it draws again over
// anything it handed over, it must wait for the server to say it has read it: a round trip,
// and a second wake-up of the window thread, for every frame of the falling notes. Those frames
// repaint a few small strips (the new rows at the top, bars, keys), which cost less to send
// whole through the socket than that wait. The choice is made for this program only: a choice
// of the user's own stands, and nothing the program starts inherits ours.
class X11ImageTransfer {
  public:
    // Asks for sending through the socket, unless the user chose either way. Before the
    // QApplication: Qt decides when it connects to the display.
    X11ImageTransfer();
    // Once connected, programs started from here see the environment as the user set it.
    void Settle();
    ~X11ImageTransfer() { Settle(); }

    X11ImageTransfer(const X11ImageTransfer&) = delete;
    X11ImageTransfer& operator=(const X11ImageTransfer&) = delete;

    static constexpr const char* kVariable = "QT_XCB_NO_MITSHM";

  private:
    bool m_ours = false;
};
