package example;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;

// A small application to pack: it prints the words it received and a text
// read from a resource inside its own jar.
public class Hello {
    public static void main(String[] args) throws IOException {
        System.out.println("Hello from a packaged Java application");
        System.out.println("resource: " + resource("greeting.txt"));
        // Set by the standard boot class; absent when run with java -cp.
        System.out.println("packed as: " + System.getProperty("glimvane.exe", "(not packed)"));
        System.out.println("words: " + args.length);
        for (int i = 0; i < args.length; i++) {
            System.out.println("  word " + i + ": " + args[i]);
        }
    }

    // A text file beside this class in the jar, read as UTF-8.
    static String resource(String name) throws IOException {
        InputStream in = Hello.class.getResourceAsStream(name);
        if (in == null) throw new IOException("resource " + name + " is missing from the jar");
        try {
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            byte[] buffer = new byte[4096];
            for (int n; (n = in.read(buffer)) > 0;) bytes.write(buffer, 0, n);
            return new String(bytes.toByteArray(), "UTF-8").trim();
        } finally {
            in.close();
        }
    }
}
