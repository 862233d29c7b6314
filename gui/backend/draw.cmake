# Draw on Cairo: the render device and the Draw dialect link the system's
# Cairo library (found through pkg-config).
find_package(PkgConfig REQUIRED)
pkg_check_modules(KIV_CAIRO REQUIRED IMPORTED_TARGET cairo)
target_link_libraries(kivcore PUBLIC PkgConfig::KIV_CAIRO)
