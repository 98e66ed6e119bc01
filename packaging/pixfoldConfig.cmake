# find_package(pixfold 2.0 CONFIG): pixfold::pixfold, the shared library where
# one is installed (else the static one), and pixfold::pixfold_static.
include("${CMAKE_CURRENT_LIST_DIR}/pixfoldTargets.cmake")
