// What the Check action adds after its advice about an update.
#include "firmware/firmware_update.h"

namespace tornelvox {

void ShowCheckNotes(FirmwareSession &session, bool version_read) {
    const bool may_update = ImageMayUpdateAdapter(session);
    if (!version_read) {
        // An adapter that answers the probe but reports no version usually lost its firmware
        // to an update that never finished.
        ShowMsg(session,
                " The adapter answered but reported no firmware version: an earlier update may "
                "not have finished.\n");
        if (may_update) ShowMsg(session, " Click \"Update\" to repair it.\n");
    }
    if (!may_update) {
        ShowMsg(session,
                " This build carries no vendor firmware image: it cannot update this adapter.\n");
    }
}

}  // namespace tornelvox
