// Variation sets of a plug-in instance: the copy of its engine a set renders from, and the
// private extension our tools start sets through.
#pragma once

#include "VeskVariationSetExt.h"

#include "export/VariationSet.h"

#include <memory>
#include <string>

class VeskPlugin;

namespace vesk {

// [main thread] The engine copy a set of this instance renders from: the sampler, both buses,
// the master chain and the salt (briefly under the state mutex, as an export's capture), with the
// track's name as the kit's name and the project folder as the export folder. Null with the
// reason when the instance's sample files are missing or it holds nothing to render.
std::shared_ptr<VariationSetSource> captureVariationSet(VeskPlugin& plugin, std::string& error);

// The extension's table (VESK_EXT_VARIATION_SET).
extern const vesk_plugin_variation_set_t kVariationSetExtension;

} // namespace vesk
