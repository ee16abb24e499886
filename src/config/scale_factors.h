// The X and Y scale factors as every scaled operation obtains them: both 1.0,
// then whatever the calibration file gives, so an unreadable file means unit
// scale.  Fetched once per call, at the point the operation needs them.
#pragma once

namespace vorn {

struct ScaleFactors {
    double x = 1.0;
    double y = 1.0;
};

ScaleFactors fetch_scale_factors();

}  // namespace vorn
