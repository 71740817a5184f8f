#include "model/barbell.hpp"

namespace model {

Barbell defaultBarbell(std::string_view weightUnits) {
    return Barbell{std::string(defaultBarbellName), weightUnits == "lb" ? 45.0 : 20.0,
                   std::string(weightUnits)};
}

} // namespace model
