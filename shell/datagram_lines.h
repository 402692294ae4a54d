// Text lines assembled from received datagrams, with the limits and the cleaning of the
// XCOM line reader: a line holds at most XCOM_MAX_LINE bytes with its LF, at most
// XCOM_MAX_HELD bytes are held while no LF has come, and every line is cleaned (NULs
// removed, then "%" blanked if there were any, control bytes trimmed from both ends).
// Pure byte work: the owner receives into receive_area() and reports what came.
// One thread at a time.
#pragma once

#include "libxcom.h"

class DatagramLines {
  public:
    enum class Take {
        kLine,      // a line was taken (it may be empty once cleaned)
        kNeedMore,  // no whole line is held; receive more
        kOverflow,  // a line over XCOM_MAX_LINE or XCOM_MAX_HELD bytes without a LF
    };

    // Takes the next held line into line (XCOM_LINE_BUFFER_SIZE bytes), cleaned and
    // NUL-terminated; *length is its length.
    Take take(char *line, int *length);

    // Where the next datagram goes (the held bytes are moved to the front first), and
    // how many bytes fit there; a larger datagram is cut, as a receive cuts it.
    char *receive_area();
    int free_space() const { return XCOM_MAX_HELD - held_; }
    // Accounts for count bytes received into receive_area().
    void received(int count) { held_ += count; }

    // Bytes held that are not yet a line.
    int held() const { return held_; }

  private:
    char bytes_[XCOM_MAX_HELD];
    int start_ = 0;     // first held byte
    int held_ = 0;      // bytes held from start_
    int searched_ = 0;  // held bytes known to hold no LF
};

// Cleans a received line of length bytes in place (NUL-terminated afterwards) and
// returns its new length.
int clean_received_line(char *line, int length);
