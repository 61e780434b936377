// The VM cache tests' and benchmark's application, run both through the
// boot class and as `java -cp JAR Compile`: it compiles one small file
// through javax.tools, which loads a few thousand classes; the word "exit"
// ends it through System.exit(7); the word "version" only prints the
// runtime's version, work of another kind that loads few classes.
import java.io.File;
import java.io.FileOutputStream;
import java.io.OutputStream;
import java.nio.file.Files;
import javax.tools.JavaCompiler;
import javax.tools.ToolProvider;

public class Compile {
    public static void main(String[] words) throws Exception {
        if (words.length > 0 && words[0].equals("version")) {
            System.out.println(System.getProperty("java.version"));
            return;
        }
        File dir = Files.createTempDirectory("vmcache").toFile();
        File source = new File(dir, "Hello.java");
        try (OutputStream out = new FileOutputStream(source)) {
            out.write("public class Hello { public static void main(String[] a) {} }".getBytes("UTF-8"));
        }
        JavaCompiler compiler = ToolProvider.getSystemJavaCompiler();
        int status = compiler.run(null, null, null, "-d", dir.getPath(), source.getPath());
        new File(dir, "Hello.class").delete();
        source.delete();
        dir.delete();
        System.out.println("compiled " + status);
        for (String word : words)
            if (word.equals("exit")) System.exit(7);
    }
}
