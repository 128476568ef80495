# The fuzz targets: fuzz/fuzz_<name>.cpp, seeds in fuzz/corpus/<name>/. Shared by the libFuzzer
# build (fuzz/CMakeLists.txt) and the replay of the corpora in the test run (tests/fuzz/).
set(LUMO_FUZZ_TARGETS definition parameter_file settings_file range_text scan embedded rules_file firmware_file link)
# Files of examples/ that seed a target besides its own corpus folder.
set(LUMO_FUZZ_SEEDS_definition TG5.txt Jovix.txt)
set(LUMO_FUZZ_SEEDS_parameter_file)
set(LUMO_FUZZ_SEEDS_settings_file)
set(LUMO_FUZZ_SEEDS_range_text)
set(LUMO_FUZZ_SEEDS_scan TG5.txt)
set(LUMO_FUZZ_SEEDS_embedded)
set(LUMO_FUZZ_SEEDS_rules_file)
set(LUMO_FUZZ_SEEDS_firmware_file)
set(LUMO_FUZZ_SEEDS_link)
# Sources of fuzz/ a target needs besides its own.
set(LUMO_FUZZ_SOURCES_link link_harness.cpp)
