# Renders the winget manifests (version, installer, defaultLocale) and a
# Scoop manifest for the Windows release zip, from the zip itself:
#   cmake -DZIP=tamsor-1.0.0-win64.zip -DURL=<where the zip is published>
#         -DHOMEPAGE=<project page> [-DIDENTIFIER=Publisher.Package]
#         [-DOUT=manifests] -P cmake/manifests.cmake
# The version comes from the zip's name, the path of tamsor.exe from its
# listing, the hash from its bytes; the description and the license from
# the project's own files.
foreach(required IN ITEMS ZIP URL HOMEPAGE)
  if(NOT ${required})
    message(FATAL_ERROR "manifests.cmake: give -D${required}=...")
  endif()
endforeach()
if(NOT IDENTIFIER)
  set(IDENTIFIER tamsor.tamsor)
endif()
if(NOT OUT)
  set(OUT manifests)
endif()

get_filename_component(zip_name ${ZIP} NAME)
if(NOT zip_name MATCHES "^tamsor-([0-9]+\\.[0-9]+\\.[0-9]+)-win64\\.zip$")
  message(FATAL_ERROR "manifests.cmake: ${zip_name} is no tamsor-X.Y.Z-win64.zip")
endif()
set(version ${CMAKE_MATCH_1})
if(NOT URL MATCHES "/${zip_name}$")
  message(FATAL_ERROR "manifests.cmake: ${URL} does not end in /${zip_name}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP}
                OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed OR NOT listing MATCHES "(^|\n)(([^/\n]+)/)?tamsor\\.exe\n")
  message(FATAL_ERROR "manifests.cmake: no tamsor.exe in ${ZIP}")
endif()
set(folder "${CMAKE_MATCH_3}")
file(SHA256 ${ZIP} sha256)
string(TOUPPER ${sha256} sha256_upper)

get_filename_component(root ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
file(READ ${root}/CMakeLists.txt project_file)
string(REGEX MATCH "DESCRIPTION \"([^\"]+)\"" found "${project_file}")
set(description "${CMAKE_MATCH_1}")
file(STRINGS ${root}/LICENSE license LIMIT_COUNT 1)
string(REGEX REPLACE " License$" "" license "${license}")

# A YAML value in single quotes, where a quote is doubled.
function(yaml_quote var text)
  string(REPLACE "'" "''" text "${text}")
  set(${var} "'${text}'" PARENT_SCOPE)
endfunction()
yaml_quote(q_description "${description}")
yaml_quote(q_url "${URL}")
yaml_quote(q_homepage "${HOMEPAGE}")
if(folder)
  set(exe_path "${folder}\\tamsor.exe")
else()
  set(exe_path "tamsor.exe")
endif()
yaml_quote(q_exe_path "${exe_path}")

set(manifest_version 1.10.0)
set(head "PackageIdentifier: ${IDENTIFIER}\nPackageVersion: ${version}\n")
set(winget ${OUT}/winget)
file(WRITE ${winget}/${IDENTIFIER}.yaml
"# yaml-language-server: $schema=https://aka.ms/winget-manifest.version.${manifest_version}.schema.json
${head}DefaultLocale: en-US
ManifestType: version
ManifestVersion: ${manifest_version}
")
file(WRITE ${winget}/${IDENTIFIER}.installer.yaml
"# yaml-language-server: $schema=https://aka.ms/winget-manifest.installer.${manifest_version}.schema.json
${head}InstallerType: zip
NestedInstallerType: portable
NestedInstallerFiles:
- RelativeFilePath: ${q_exe_path}
  PortableCommandAlias: tamsor
Installers:
- Architecture: x64
  InstallerUrl: ${q_url}
  InstallerSha256: ${sha256_upper}
ManifestType: installer
ManifestVersion: ${manifest_version}
")
file(WRITE ${winget}/${IDENTIFIER}.locale.en-US.yaml
"# yaml-language-server: $schema=https://aka.ms/winget-manifest.defaultLocale.${manifest_version}.schema.json
${head}PackageLocale: en-US
Publisher: The tamsor developers
PackageName: tamsor
PackageUrl: ${q_homepage}
License: ${license}
ShortDescription: ${q_description}
Moniker: tamsor
Tags:
- timer
- benchmark
- command-line
ManifestType: defaultLocale
ManifestVersion: ${manifest_version}
")

# Scoop: the same zip; autoupdate finds the next one by its version.
string(REPLACE "${version}" "$version" auto_url "${URL}")
string(REPLACE "${version}" "$version" auto_folder "${folder}")
# Sets the member at the path ARGN of `json` to the string `text`.
function(json_set text)
  string(REPLACE "\\" "\\\\" quoted "${text}")
  string(REPLACE "\"" "\\\"" quoted "${quoted}")
  string(JSON json SET "${json}" ${ARGN} "\"${quoted}\"")
  set(json "${json}" PARENT_SCOPE)
endfunction()
set(json "{\"checkver\": {}, \"autoupdate\": {}}")
json_set("${version}" version)
json_set("${description}" description)
json_set("${HOMEPAGE}" homepage)
json_set("${license}" license)
json_set("${URL}" url)
json_set("${sha256}" hash)
json_set("tamsor.exe" bin)
json_set("${HOMEPAGE}" checkver github)
json_set("${auto_url}" autoupdate url)
if(folder)
  json_set("${folder}" extract_dir)
  json_set("${auto_folder}" autoupdate extract_dir)
endif()
file(WRITE ${OUT}/scoop/tamsor.json "${json}\n")
message(STATUS "manifests for ${zip_name} (SHA256 ${sha256}) in ${OUT}")
