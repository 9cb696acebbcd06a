#include "workflow/front_end.h"

#include "workflow/adapter_session.h"

namespace tornelvox {

void RouteMessagesTo(AdapterSession &session, std::shared_ptr<FrontEnd> front_end) {
    if (!front_end) {
        session.SetMessageSink(nullptr);
        return;
    }
    session.SetMessageSink([front_end = std::move(front_end)](const std::string &text) {
        front_end->AddMessage(text);
    });
}

}  // namespace tornelvox
