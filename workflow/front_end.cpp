#include "workflow/front_end.h"

#include "serial/message_log.h"

namespace tornelvox {

void RouteMessagesTo(std::shared_ptr<FrontEnd> front_end) {
    if (!front_end) {
        SetMessageSink(nullptr);
        return;
    }
    SetMessageSink([front_end = std::move(front_end)](const std::string &text) {
        front_end->AddMessage(text);
    });
}

}  // namespace tornelvox
