#!/usr/bin/env python3
"""Checks what a release is made of.

  check-release.py workflows DIR   the workflow files parse as YAML, with
                                   their jobs, triggers and key commands
  check-release.py manifests ZIP   the manifests rendered for ZIP hold the
                                   fields winget and Scoop require, its
                                   SHA256 and a path to tamsor.exe in it
"""
import hashlib, json, os, subprocess, sys, tempfile, zipfile
import yaml


def check(condition, what):
    if not condition:
        sys.exit("check-release: " + what)


def workflows(folder):
    expected = {"ubuntu.yml": ("test", ".ci/run"),
                "windows.yml": ("msvc", "ctest --test-dir build"),
                "release.yml": ("release", "cmake/manifests.cmake")}
    for name, (job, command) in expected.items():
        text = open(os.path.join(folder, name)).read()
        flow = yaml.safe_load(text)
        on = flow.get("on", flow.get(True))  # YAML 1.1 reads `on` as true
        runs = "\n".join(step.get("run", "") for step in flow["jobs"][job]["steps"])
        check(flow["jobs"][job]["runs-on"] and command in runs,
              f"{name}: {job} does not run {command}")
        check(on["push"] == ({"tags": ["v*"]} if job == "release" else None),
              f"{name}: not run on the right pushes")
        check(" -G " not in text, f"{name} names a generator")
    # Windows CI runs CONTRIBUTING.md's test commands, one a step, in
    # Windows PowerShell 5.1, which has no `&&`.
    msvc = yaml.safe_load(open(os.path.join(folder, "windows.yml")))["jobs"]["msvc"]
    readme = open(os.path.join(folder, "..", "..", "CONTRIBUTING.md")).read().split("\n")
    start = readme.index("```", next(i for i, line in enumerate(readme)
                                     if line.endswith("To run the tests:")))
    commands = readme[start + 1:readme.index("```", start + 1)]
    check(msvc["defaults"]["run"]["shell"] == "powershell" and
          [step["run"] for step in msvc["steps"] if "run" in step] == commands
          and not any("&&" in command for command in commands),
          "windows.yml: not CONTRIBUTING.md's Windows test commands, one a step, "
          "in Windows PowerShell")
    print("workflows:", ", ".join(expected), "parse, with their jobs")


def manifests(zip_path):
    name = os.path.basename(zip_path)
    url = "https://example.org/dl/v1/" + name
    out = tempfile.mkdtemp()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    subprocess.run(["cmake", "-DZIP=" + zip_path, "-DURL=" + url,
                    "-DHOMEPAGE=https://example.org/tamsor", "-DOUT=" + out,
                    "-P", root + "/cmake/manifests.cmake"],
                   check=True, stdout=subprocess.DEVNULL)
    sha256 = hashlib.sha256(open(zip_path, "rb").read()).hexdigest()
    inside = set(zipfile.ZipFile(zip_path).namelist())
    version = name.split("-")[1]

    docs = {}
    for kind, suffix in (("version", ""), ("installer", ".installer"),
                         ("defaultLocale", ".locale.en-US")):
        doc = docs[kind] = yaml.safe_load(
            open(f"{out}/winget/tamsor.tamsor{suffix}.yaml"))
        check(doc["ManifestType"] == kind and
              doc["PackageIdentifier"] == "tamsor.tamsor" and
              str(doc["PackageVersion"]) == version, f"{kind}: its head")
        check([int(n) for n in doc["ManifestVersion"].split(".")] >= [1, 6, 0],
              f"{kind}: ManifestVersion {doc['ManifestVersion']} is old")
    check(docs["version"]["DefaultLocale"] == "en-US", "DefaultLocale")
    for field in ("Publisher", "PackageName", "License", "ShortDescription"):
        check(docs["defaultLocale"].get(field), f"defaultLocale lacks {field}")
    installer = docs["installer"]
    check(installer["InstallerType"] == "zip" and
          installer["NestedInstallerType"] == "portable", "not a portable zip")
    [nested] = installer["NestedInstallerFiles"]
    check(nested["RelativeFilePath"].replace("\\", "/") in inside and
          nested["PortableCommandAlias"] == "tamsor", "winget's tamsor.exe")
    [package] = installer["Installers"]
    check(package["Architecture"] == "x64" and package["InstallerUrl"] == url
          and package["InstallerSha256"].lower() == sha256, "winget's zip")

    text = open(f"{out}/scoop/tamsor.json", "rb").read().decode()
    check(text.endswith("}\r\n") and "\n" not in text.replace("\r\n", ""),
          "scoop: not CRLF line ends throughout")
    depth = 0
    for line in text.split("\r\n")[:-1]:
        depth -= line.lstrip()[:1] in ("}", "]")
        check(line == " " * 4 * depth + line.lstrip() and line == line.rstrip(),
              f"scoop: not indented by 4 spaces a level, or trailing blanks: {line!r}")
        depth += line[-1:] in ("{", "[")
    scoop = json.loads(text)
    for field in ("description", "homepage", "license", "checkver"):
        check(scoop.get(field), f"scoop lacks {field}")
    # Only for 64-bit Windows: no url of its own for Scoop to offer another.
    release = scoop["architecture"]["64bit"]
    check(scoop["version"] == version and "url" not in scoop and
          list(scoop["architecture"]) == ["64bit"] and release["url"] == url
          and release["hash"] == sha256, "scoop: version, url or hash")
    folder = release.get("extract_dir")
    check((f"{folder}/{scoop['bin']}" if folder else scoop["bin"]) in inside,
          f"scoop's bin is not in {name}")
    next_release = scoop["autoupdate"]["architecture"]["64bit"]
    auto = {k: v.replace("$version", version) for k, v in next_release.items()}
    later = {k: v.replace("$version", "9.9.9") for k, v in next_release.items()}
    check(auto == {"url": url, "extract_dir": folder} and
          later == {k: v.replace(version, "9.9.9") for k, v in auto.items()},
          "scoop's autoupdate does not give this zip, nor the next")
    print(f"manifests for {name}: winget {installer['ManifestVersion']} and "
          f"Scoop, SHA256 {sha256}")


if __name__ == "__main__":
    {"workflows": workflows, "manifests": manifests}[sys.argv[1]](sys.argv[2])
