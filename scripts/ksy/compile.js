// Compiles a .ksy description with the Kaitai Struct compiler from npm, which
// offers no command line of its own: node compile.js MODULES KSY LANGUAGE OUTDIR.
// MODULES is the node_modules folder holding kaitai-struct-compiler and js-yaml.
'use strict';
const fs = require('fs');
const path = require('path');

const [modules, ksyPath, language, outDir] = process.argv.slice(2);
if (!outDir) {
  console.error('usage: node compile.js MODULES KSY LANGUAGE OUTDIR');
  process.exit(2);
}
const KaitaiStructCompiler = require(path.join(path.resolve(modules), 'kaitai-struct-compiler'));
const yaml = require(path.join(path.resolve(modules), 'js-yaml'));

const compiler = new KaitaiStructCompiler();
const ksy = yaml.load(fs.readFileSync(ksyPath, 'utf8'));
compiler
  .compile(language, ksy, null, false)
  .then((files) => {
    fs.mkdirSync(outDir, { recursive: true });
    for (const [name, text] of Object.entries(files)) {
      fs.writeFileSync(path.join(outDir, name), text);
      console.log(`${ksyPath}: ${language} -> ${path.join(outDir, name)} (compiler ${compiler.version})`);
    }
  })
  .catch((e) => {
    // The compiler's errors are Scala objects; their text is what says where.
    console.error(`${ksyPath}: ${e && e.toString ? e.toString() : e}`);
    process.exit(1);
  });
