// The program's string resources.
#pragma once

namespace vs::res {

// The string with resource id `id`; empty when there is none, as a
// failed load gives.
const char* LoadResourceString(int id);

}  // namespace vs::res
