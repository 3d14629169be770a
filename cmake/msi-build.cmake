# Run by cpack's External generator with the installation staged in
# CPACK_TEMPORARY_DIRECTORY. Writes a WiX source for it and builds the .msi:
#   - every staged file under "Program Files\tarnwick", in the same folders
#     (bin\*.exe, Brightdesk\marlow.exe), one component each;
#   - the bin folder appended to the user's PATH (HKCU\Environment) and
#     taken out again on removal;
#   - the installation folder made by a component of its own, so that the
#     removal takes it away too.
# wixl has no Environment element, so the Environment table and the two
# actions that apply it are added to the built database with msibuild.

file(GLOB_RECURSE staged RELATIVE "${CPACK_TEMPORARY_DIRECTORY}" "${CPACK_TEMPORARY_DIRECTORY}/*")
# The staged tree may sit below an install prefix: find the folder that holds bin.
set(root "")
foreach(path IN LISTS staged)
  if(path MATCHES "^(.*/)?bin/tarnwick\\.exe$")
    set(root "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT staged OR NOT EXISTS "${CPACK_TEMPORARY_DIRECTORY}/${root}bin/tarnwick.exe")
  message(FATAL_ERROR "msi: no bin/tarnwick.exe in ${CPACK_TEMPORARY_DIRECTORY}")
endif()
set(top "${CPACK_TEMPORARY_DIRECTORY}/${root}")
file(GLOB_RECURSE files RELATIVE "${top}" "${top}/*")
list(SORT files)

function(tw_xml_escape out text)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  string(REPLACE "\"" "&quot;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# An identifier for a relative path, stable from build to build.
function(tw_id out prefix path)
  string(MD5 hash "${path}")
  string(SUBSTRING "${hash}" 0 16 hash)
  set(${out} "${prefix}${hash}" PARENT_SCOPE)
endfunction()

# The folders, each with its files; nested folders are written inside
# their parents.
set(components "")
function(tw_directory out dir)
  set(xml "")
  foreach(path IN LISTS files)
    get_filename_component(parent "${path}" DIRECTORY)
    if(parent STREQUAL dir)
      tw_id(id f_ "${path}")
      tw_xml_escape(source "${path}")
      get_filename_component(name "${path}" NAME)
      tw_xml_escape(name "${name}")
      string(APPEND xml "<Component Id=\"c${id}\" Guid=\"*\" Win64=\"yes\">"
                        "<File Id=\"${id}\" Name=\"${name}\" Source=\"${source}\" KeyPath=\"yes\"/>"
                        "</Component>\n")
      list(APPEND components "c${id}")
    endif()
  endforeach()
  set(subdirs "")
  foreach(path IN LISTS files)
    get_filename_component(parent "${path}" DIRECTORY)
    while(parent)
      get_filename_component(grand "${parent}" DIRECTORY)
      if(grand STREQUAL dir)
        list(APPEND subdirs "${parent}")
      endif()
      set(parent "${grand}")
    endwhile()
  endforeach()
  list(REMOVE_DUPLICATES subdirs)
  foreach(sub IN LISTS subdirs)
    if(sub STREQUAL "bin")
      set(id BINDIR)
    else()
      tw_id(id d_ "${sub}")
    endif()
    get_filename_component(name "${sub}" NAME)
    tw_xml_escape(name "${name}")
    tw_directory(inner "${sub}")
    string(APPEND xml "<Directory Id=\"${id}\" Name=\"${name}\">\n${inner}</Directory>\n")
  endforeach()
  set(components "${components}" PARENT_SCOPE)
  set(${out} "${xml}" PARENT_SCOPE)
endfunction()
tw_directory(tree "")

set(refs "")
foreach(c IN LISTS components)
  string(APPEND refs "<ComponentRef Id=\"${c}\"/>")
endforeach()

set(name "${CPACK_PACKAGE_NAME}")
tw_xml_escape(vendor "${CPACK_PACKAGE_VENDOR}")
tw_xml_escape(summary "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}")
set(wxs "${CPACK_TEMPORARY_DIRECTORY}/../${CPACK_PACKAGE_FILE_NAME}.wxs")
set(msi "${CPACK_TEMPORARY_DIRECTORY}/../${CPACK_PACKAGE_FILE_NAME}.msi")
file(WRITE "${wxs}" "<?xml version=\"1.0\" encoding=\"utf-8\"?>
<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">
<Product Id=\"*\" Name=\"${name}\" Language=\"1033\" Version=\"${CPACK_PACKAGE_VERSION}\"
         Manufacturer=\"${vendor}\" UpgradeCode=\"${CPACK_TW_UPGRADE_CODE}\">
<Package InstallerVersion=\"200\" Compressed=\"yes\" InstallScope=\"perMachine\"
         Description=\"${summary}\" Manufacturer=\"${vendor}\"/>
<MajorUpgrade DowngradeErrorMessage=\"A newer version of ${name} is installed.\"/>
<Media Id=\"1\" Cabinet=\"${name}.cab\" EmbedCab=\"yes\"/>
<Property Id=\"ARPNOMODIFY\" Value=\"1\"/>
<Directory Id=\"TARGETDIR\" Name=\"SourceDir\">
<Directory Id=\"ProgramFiles64Folder\">
<Directory Id=\"INSTALLDIR\" Name=\"${name}\">
<Component Id=\"PathEntry\" Guid=\"${CPACK_TW_PATH_COMPONENT_GUID}\" Win64=\"yes\">
<CreateFolder/>
</Component>
${tree}</Directory>
</Directory>
</Directory>
<Feature Id=\"Programs\" Title=\"${name}\" Level=\"1\"><ComponentRef Id=\"PathEntry\"/>${refs}</Feature>
</Product>
</Wix>
")
file(REMOVE "${msi}")
# wixl takes sources relative to its working directory.
execute_process(COMMAND "${CPACK_TW_WIXL}" -a x64 -o "${msi}" "${wxs}" WORKING_DIRECTORY "${top}"
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT EXISTS "${msi}")
  message(FATAL_ERROR "msi: wixl failed (${rc}): ${err}")
endif()

# The PATH entry: "=-PATH" sets the variable on installation (creating it
# when missing) and takes our part out on removal; "[~];" appends to the
# user's value. No leading "*", so it is the user's environment.
set(idt "${CPACK_TEMPORARY_DIRECTORY}/../Environment.idt")
file(WRITE "${idt}" "Environment\tName\tValue\tComponent_\ns72\tl255\tL255\ts72\nEnvironment\tEnvironment\n"
                    "PathEntry\t=-PATH\t[~];[INSTALLDIR]bin\tPathEntry\n")
foreach(step IN ITEMS
        "-i;${idt}"
        "-q;INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)"
        "-q;INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)")
  execute_process(COMMAND "${CPACK_TW_MSIBUILD}" "${msi}" ${step} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "msi: msibuild ${step} failed (${rc}): ${err}")
  endif()
endforeach()
set(CPACK_EXTERNAL_BUILT_PACKAGES "${msi}")
