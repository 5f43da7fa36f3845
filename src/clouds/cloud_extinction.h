// The extinction of the embedded starlight by the molecular clouds, the cloud
// model's checking numbers, and the stellar spectra after the clouds (stages 8
// to 10 of pallanolt96).
#pragma once

namespace qv {
struct Run;

namespace pallanolt96_stages {

// Stellar luminosity of one cloud before (lprima) and after (ldopo) the clouds,
// 1e30 erg/s.
struct CloudLuminosities {
    float lprima = 0.0f;
    float ldopo = 0.0f;
};

// The luminosity of every birth interval j = 2..icall and component into
// remind.alnorm(j, c), divided by `divisor`; returns their sum.
float interval_luminosity(Run& run, float primordial_mass, float divisor);

// Stage 8: attenuates remind.flsspint in place, sets e2inpdiftru and lumdusbol30.
CloudLuminosities cloud_extinction(Run& run, float primordial_mass);

// Stage 9: the run-log records, lumdus and the solver's PAH bands scaled to all
// clouds, the per-type arrays of stages 1 to 8 freed.
void cloud_results(Run& run, const CloudLuminosities& lum);

// Stage 10: l_stamc and lumstamc from remind.flsspint, the cloud types and the
// rebinning work freed, "FATTO PALLANOLT96".
void stellar_spectra_after_clouds(Run& run, float primordial_mass);

}  // namespace pallanolt96_stages
}  // namespace qv
