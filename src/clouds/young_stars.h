// The cloud model: young stars in molecular clouds and the extinction of their light.
//
// pallanolt96 runs its stages in this order; stages 1 to 9 only when the galaxy
// has molecular gas (glopalla.mmol > 0), stage 10 on every call:
//   1 age bins, per-type arrays allocated and zeroed     (cloud_arrays_allocate)
//   2 optical depth of one cloud of each type             (mc_righe::set_mc_arr)
//   3 share of every SSP step still inside each type      (inside_fractions)
//   4 inside spectra and masses per age bin               (inside_spectra)
//   5 with hiiflag: HII regions, lines and continuum      (hii_regions)
//   6 inside and escaped spectra per cloud                (per_cloud)
//   7 with emiflag: dust emission of the clouds           (cloud_dust_emission)
//   8 extinction of the embedded starlight                (cloud_extinction)
//   9 run-log records, results scaled to all clouds       (cloud_results)
//  10 stellar spectra after the clouds on both grids      (stellar_spectra_after_clouds)
#pragma once

namespace qv {
struct Run;

// primordial_mass: the galaxy's primordial mass, 1e12 solar masses; zgas: the gas
// metallicity (for the HII regions).
void pallanolt96(Run& run, float primordial_mass, float zgas);

namespace pallanolt96_stages {

// Most SSP steps (counted from the youngest) that have an inside share.
inline constexpr int max_steps = 1000;

// The number of young-star age bins, int(t_hii/dt_hii + 1) in 4-byte arithmetic.
int age_bin_count();

// The age bin of a birth time tb, int((T - tb)/dt_hii + 1) with T the last birth
// time; 0 when the bin lies outside 1..nbins (then only the all-ages bin 0 counts).
int age_bin(float t_last, float tb, int nbins);

// Stage 1: the input checks of the cloud model, ndt_hii, and the per-type arrays
// allocated and set to 0.
void cloud_arrays_allocate(Run& run);

// Stage 3: f_sources_arr and nsoudin_arr (and glopalla.vout with several types).
void inside_fractions(Run& run);

// Stage 4: ldentro_arr and mdentro_arr per age bin.
void inside_spectra(Run& run, float primordial_mass);

// Stage 5, with HII regions: lfuori and mfuori, the spectra and masses of the
// young stars that have left the clouds, per age bin.
void escaped_spectra(Run& run, float primordial_mass);

// Stage 5: with hiiflag the HII model list, the escaped spectra and masses and
// the HII driver (lines, pan files, nebular continuum, the factors on the light
// leaving the clouds); without it both factors are 1.
void hii_regions(Run& run, float primordial_mass, float zgas);

// Stage 6: the inside and escaped spectra divided by the number of clouds.
void per_cloud(Run& run);

}  // namespace pallanolt96_stages
}  // namespace qv
