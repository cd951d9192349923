# Read by cpack when it packs: the packages' files, folders and control members take the
# build's date (ZORFLASH_SOURCE_DATE_EPOCH, cmake/reproducible.cmake), which CPack's archive
# writer reads from SOURCE_DATE_EPOCH, instead of the time of packing.
if(CPACK_ZORFLASH_SOURCE_DATE_EPOCH)
    set(ENV{SOURCE_DATE_EPOCH} "${CPACK_ZORFLASH_SOURCE_DATE_EPOCH}")
endif()
