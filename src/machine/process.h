// The guest's static thread-local storage.
#pragma once

namespace peloader { struct TlsInfo; }

namespace machine {

void setUpThreadLocalStorage(const peloader::TlsInfo& tls);

}  // namespace machine
